#pragma once

#include "state/tinfo.h"

class CTInfoImp final : public lTInfo
{
public:
    CTInfoImp() = default;
    ~CTInfoImp() override;
    CTInfoImp(const CTInfoImp &) = delete;
    CTInfoImp &operator=(const CTInfoImp &) = delete;

    int GetTodayCount() override { return todayCount; }
    void SetTodayCount(int count) override { todayCount = count; }
    std::string GetLoginID() override { return loginID; }
    void SetLoginID(const std::string &id) override { loginID = id; }
    std::string GetPassword() override { return password; }
    void SetPassword(const std::string &value) override;
    std::string GetBlogURL() override { return blogURL; }
    void SetBlogURL(const std::string &url) override { blogURL = url; }
    int GetInterval() override { return interval; }
    void SetInterval(int seconds) override { interval = seconds; }
    bool GetLatestComment(std::string &text, std::string &link) override;
    bool IsNewComment() override { return newComment; }
    bool GetLatestTrackback(std::string &text, std::string &link) override;
    bool IsNewTrackback() override { return newTrackback; }
    bool GetLatestGuestbook(std::string &text, std::string &link) override;
    bool IsNewGuestbook() override { return newGuestbook; }
    void SetNewComment(bool value) override { newComment = value; }
    void SetNewTrackback(bool value) override { newTrackback = value; }
    void SetNewGuestbook(bool value) override { newGuestbook = value; }
    bool IsAnyNew() override { return anyNew; }
    void SetAnyNew(bool value) override { anyNew = value; }
    bool GetComments(RecentItemList &out) override;
    bool GetTrackbacks(RecentItemList &out) override;
    bool GetGuestbook(RecentItemList &out) override;
    void SetComments(const RecentItemList &items) override;
    void SetTrackbacks(const RecentItemList &items) override;
    void SetGuestbook(const RecentItemList &items) override;
    int GetLoginState() override { return loginState; }
    void SetLoginState(int state) override { loginState = state; }
    bool OpenURL(const std::string &url) override;
    void SetViewer(ITHViewer *value) override { viewer = value; }
    ITHViewer *GetViewer() override { return viewer; }

private:
    void handOver(RecentItemList &stored, const RecentItemList &handed, bool &kindFlag);

    std::string loginID;
    std::string password;
    std::string blogURL;
    int todayCount = 0;
    int interval = 30;
    RecentItemList comments;
    RecentItemList trackbacks;
    RecentItemList guestbook;
    int loginState = LoggedOut;
    ITHViewer *viewer = nullptr;
    bool newComment = false;
    bool newTrackback = false;
    bool newGuestbook = false;
    bool firstPoll = true;
    bool anyNew = false;
};
