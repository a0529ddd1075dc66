#pragma once

#include "state/recentitem.h"

#include <string>

class ITHViewer;

// The one shared record of the running program. Getters return copies.
class lTInfo
{
public:
    virtual ~lTInfo() = default;

    virtual int GetTodayCount() = 0;
    virtual void SetTodayCount(int count) = 0;
    virtual std::string GetLoginID() = 0;
    virtual void SetLoginID(const std::string &id) = 0;
    virtual std::string GetPassword() = 0;
    virtual void SetPassword(const std::string &password) = 0;
    virtual std::string GetBlogURL() = 0;
    virtual void SetBlogURL(const std::string &url) = 0;
    virtual int GetInterval() = 0;
    virtual void SetInterval(int seconds) = 0;
    // Latest-item getters: false, with the out-strings untouched, for an empty list.
    virtual bool GetLatestComment(std::string &text, std::string &link) = 0;
    virtual bool IsNewComment() = 0;
    virtual bool GetLatestTrackback(std::string &text, std::string &link) = 0;
    virtual bool IsNewTrackback() = 0;
    virtual bool GetLatestGuestbook(std::string &text, std::string &link) = 0;
    virtual bool IsNewGuestbook() = 0;
    virtual void SetNewComment(bool value) = 0;
    virtual void SetNewTrackback(bool value) = 0;
    virtual void SetNewGuestbook(bool value) = 0;
    virtual bool IsAnyNew() = 0;
    virtual void SetAnyNew(bool value) = 0;
    virtual bool GetComments(RecentItemList &out) = 0;
    virtual bool GetTrackbacks(RecentItemList &out) = 0;
    virtual bool GetGuestbook(RecentItemList &out) = 0;
    // List hand-overs run the new-item rule before replacing the stored list.
    virtual void SetComments(const RecentItemList &items) = 0;
    virtual void SetTrackbacks(const RecentItemList &items) = 0;
    virtual void SetGuestbook(const RecentItemList &items) = 0;
    virtual int GetLoginState() = 0;
    virtual void SetLoginState(int state) = 0;
    // Opens an absolute http(s) address in the desktop's web browser; false when nothing opened.
    virtual bool OpenURL(const std::string &url) = 0;
    virtual void SetViewer(ITHViewer *viewer) = 0;
    virtual ITHViewer *GetViewer() = 0;
};

// The process-wide store, created on first use and destroyed at exit.
lTInfo *GetTInfo();
