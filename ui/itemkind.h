#pragma once

#include "state/recentitem.h"

#include <string>

class lTInfo;

// The three kinds of item the windows show, by number: 0 comments, 1 trackbacks,
// 2 guestbook entries. Other numbers name no kind and read as empty.
namespace itemkind {

bool isNew(lTInfo &info, int kind);
void clearNew(lTInfo &info, int kind);
bool latest(lTInfo &info, int kind, std::string &text, std::string &link);
RecentItemList items(lTInfo &info, int kind);

} // namespace itemkind
