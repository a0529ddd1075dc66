#pragma once

#include "tools/demohost/blogstate.h"

#include <array>
#include <string>
#include <vector>

// The pages the demo host serves, as UTF-8 text unless said otherwise.
namespace pages {

struct DashboardInput
{
    VisitorCounts counts;
    std::array<std::vector<BlogItem>, 3> items;
    bool withCounter = true;
    bool withNew = true;
    // Charset named by the page's <meta>; empty for none.
    std::string metaCharset = "utf-8";
    // Pads the page with more of the usual admin markup to about this many bytes.
    size_t padTo = 0;
    // Nested elements at the start of the body, closed again before the counter.
    long nestDepth = 0;
};

std::string dashboard(const DashboardInput &input);
std::string login(bool failed, const std::string &requestUri);
std::string blogPost(long id);
std::string guestbook(const std::vector<BlogItem> &entries);
std::string blogHome();

std::string adminCss();
std::string adminJs();
// A small GIF image (binary).
std::string logoGif();
// Bytes that are not HTML: control bytes and broken markup.
std::string garbage();

// UTF-8 to EUC-KR; characters EUC-KR lacks become numeric character references.
std::string toEucKr(const std::string &utf8);

} // namespace pages
