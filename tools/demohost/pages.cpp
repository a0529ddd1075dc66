#include "pages.h"

#include "tools/demohost/formcodec.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iconv.h>

using formcodec::htmlEscape;

namespace pages {

static const char *const kindTitles[3] = {"최근 댓글", "최근 트랙백", "최근 방명록"};
static const char *const kindMoreLinks[3] = {"/owner/communication/comment",
                                             "/owner/communication/trackback",
                                             "/owner/communication/guestbook"};

static std::string number(long n)
{
    return std::to_string(n);
}

static std::string head(const std::string &title, const std::string &metaCharset)
{
    std::string h = "<!DOCTYPE html>\n<html lang=\"ko\">\n<head>\n";
    if (metaCharset == "euc-kr")
        h += "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=euc-kr\">\n";
    else if (!metaCharset.empty())
        h += "<meta charset=\"" + metaCharset + "\">\n";
    h += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>" +
         title +
         "</title>\n"
         "<link rel=\"stylesheet\" type=\"text/css\" href=\"/static/admin.css\">\n"
         "<link rel=\"shortcut icon\" href=\"/favicon.ico\">\n"
         "<script type=\"text/javascript\" src=\"/static/admin.js\"></script>\n";
    return h;
}

static std::string sideMenu()
{
    static const char *const groups[][6] = {
        {"글 관리", "글쓰기", "글 목록", "분류 관리", "임시 저장 글", nullptr},
        {"소통", "댓글", "트랙백", "방명록", "스팸 관리", nullptr},
        {"통계", "방문자 통계", "유입 경로", "인기 글", nullptr, nullptr},
        {"꾸미기", "스킨 변경", "메뉴 설정", "사이드바", "플러그인", nullptr},
        {"설정", "블로그 정보", "개인 정보", "데이터 관리", nullptr, nullptr},
    };
    std::string m = "<td id=\"menu\" valign=\"top\">\n<div class=\"menu-box\">\n";
    int n = 0;
    for (const auto &group : groups) {
        m += "<h3 class=\"menu-title\">";
        m += group[0];
        m += "</h3>\n<ul class=\"menu-list\">\n";
        for (int i = 1; i < 6 && group[i]; ++i) {
            m += "  <li><a href=\"/owner/menu/" + number(++n) + "\">";
            m += group[i];
            m += "</a></li>\n";
        }
        m += "</ul>\n";
    }
    m += "</div>\n</td>\n";
    return m;
}

// The part of the page the notifier reads: a title table, one "more" link, then the items.
static std::string recentArea(const std::array<std::vector<BlogItem>, 3> &items)
{
    std::string s = "<div id=\"new\" class=\"recent\">\n";
    for (size_t k = 0; k < 3; ++k) {
        s += "<div class=\"recent-box\">\n";
        // No white space inside the table: its text must begin with the title.
        s += "<table class=\"recent-title\" width=\"100%\" cellspacing=\"0\"><tr><td "
             "class=\"title\">";
        s += kindTitles[k];
        s += "</td><td class=\"num\" align=\"right\">" +
             number(static_cast<long>(items[k].size())) + "건</td></tr></table>\n";
        s += "<a class=\"more\" href=\"";
        s += kindMoreLinks[k];
        s += "\">더보기</a>\n<ul class=\"recent-list\">\n";
        for (const BlogItem &item : items[k]) {
            s += "  <li><a href=\"" + htmlEscape(item.link) + "\" target=\"_blank\">" +
                 htmlEscape(item.text) + "</a> <span class=\"id\">#" + number(item.id) +
                 "</span></li>\n";
        }
        s += "</ul>\n</div>\n";
    }
    s += "</div>\n";
    return s;
}

static std::string counterRow(const VisitorCounts &c, bool withCounter)
{
    std::string s = "<table class=\"summary\" width=\"100%\" cellspacing=\"0\"><tr><th "
                    "scope=\"row\">방문자</th>";
    s += withCounter ? "<td id=\"counter\">" : "<td class=\"visitors\">";
    s += "오늘 " + number(c.today) + "명 어제 " + number(c.yesterday) + "명 전체 " +
         number(c.total) + "명</td></tr></table>\n";
    return s;
}

// One block of the "recent posts" board: a table row per post, like the real admin pages.
static std::string boardBlock(long n)
{
    static const char *const titles[] = {
        "봄맞이 베란다 텃밭 가꾸기", "자전거로 한강 한 바퀴",   "겨울 제주 여행 3일차",
        "처음 만들어 본 수제 잼",    "회사 근처 맛집 정리",     "오래된 카메라 수리기",
        "고양이와 함께 사는 법",     "주말마다 하는 등산 기록", "좋아하는 노래 모음",
    };
    const char *title = titles[n % static_cast<long>(std::size(titles))];
    std::string s = "<tr class=\"" + std::string(n % 2 ? "odd" : "even") + "\"><td class=\"no\">" +
                    number(1000 - n) + "</td><td class=\"subject\"><a href=\"/" + number(200 + n) +
                    "\">" + title + " (" + number(n) +
                    ")</a></td><td class=\"cat\">일상</td><td class=\"date\">2026.0" +
                    number(1 + n % 9) + "." + number(10 + n % 18) + "</td><td class=\"hit\">" +
                    number(37 * n % 991) + "</td></tr>\n";
    if (n % 8 == 0) {
        s += "<tr><td colspan=\"5\"><script type=\"text/javascript\">adminBoard.register(" +
             number(n) +
             ", { pinned: false, visible: true, tags: ['일상', '기록'] });</script>"
             "</td></tr>\n";
    }
    return s;
}

static std::string footer()
{
    return "<div id=\"footer\">\n<p class=\"copy\">&copy; 2026 Blog Host Corp. All rights "
           "reserved.</p>\n<p class=\"links\"><a href=\"/help\">도움말</a> | <a "
           "href=\"/terms\">이용약관</a> | <a href=\"/privacy\">개인정보처리방침</a></p>\n</div>\n"
           "<script type=\"text/javascript\">\n"
           "  (function () { var t = document.getElementById('counter');\n"
           "    if (t) { t.title = '방문자 수는 자정에 초기화됩니다'; } })();\n"
           "</script>\n";
}

std::string dashboard(const DashboardInput &input)
{
    std::string top = head("블로그 관리 : 대시보드", input.metaCharset);
    top += "<style type=\"text/css\">\n"
           "  #layout { border-collapse: collapse; width: 100%; }\n"
           "  #menu { width: 180px; background: #f4f4f4; }\n"
           "  .recent-box { margin: 0 0 12px 0; border: 1px solid #ddd; }\n"
           "  .recent-title td.title { font-weight: bold; color: #333; }\n"
           "</style>\n"
           "<script type=\"text/javascript\">\n"
           "  var BLOG = { owner: 'owner', url: '/', lang: 'ko', since: 2009 };\n"
           "  if (window.console && BLOG.debug) { console.log('dashboard < ready'); }\n"
           "</script>\n</head>\n"
           "<body class=\"owner dashboard\">\n";
    for (long i = 0; i < input.nestDepth; ++i)
        top += "<div class=\"n\">";
    for (long i = 0; i < input.nestDepth; ++i)
        top += "</div>";
    top += "<div id=\"wrap\">\n"
           "<div id=\"header\">\n<a href=\"/\" class=\"logo\"><img src=\"/static/logo.gif\" "
           "alt=\"블로그\" width=\"120\" height=\"30\"></a>\n"
           "<ul class=\"top-menu\"><li><a href=\"/\">내 블로그</a></li><li><a "
           "href=\"/owner/center/dashboard\">관리 홈</a></li><li><a "
           "href=\"/logout\">로그아웃</a></li></ul>\n</div>\n"
           "<table id=\"layout\" cellspacing=\"0\" cellpadding=\"0\"><tr>\n";
    top += sideMenu();
    top += "<td id=\"content\" valign=\"top\">\n<h2 class=\"page-title\">관리 홈</h2>\n";
    top += counterRow(input.counts, input.withCounter);
    if (input.withNew)
        top += recentArea(input.items);
    else
        top += "<div id=\"recent-off\" class=\"notice\">최근 소식을 불러오지 못했습니다.</div>\n";

    const std::string boardStart =
        "<div id=\"board\">\n<h3>최근 글</h3>\n<table class=\"board\" width=\"100%\" "
        "cellspacing=\"0\">\n<tr><th>번호</th><th>제목</th><th>분류</th><th>날짜</th><th>"
        "조회</th></tr>\n";
    const std::string boardEnd = "</table>\n</div>\n</td>\n</tr></table>\n</div>\n";
    const std::string bottom = footer() + "</body>\n</html>\n";

    std::string board;
    long n = 1;
    // A realistic board has a handful of rows; padding adds more until the size is reached.
    const size_t fixed = top.size() + boardStart.size() + boardEnd.size() + bottom.size();
    do {
        board += boardBlock(n++);
    } while (n <= 60 || fixed + board.size() + 200 < input.padTo);
    std::string page = top + boardStart + board + boardEnd;
    if (input.padTo > page.size() + bottom.size() + 9) {
        // Fill the last gap exactly, so benchmarks get the size they ask for.
        const size_t gap = input.padTo - page.size() - bottom.size();
        page += "<!--" + std::string(gap - 8, ' ') + "-->\n";
    }
    return page + bottom;
}

std::string login(bool failed, const std::string &requestUri)
{
    std::string s = head("로그인", "utf-8");
    s += "</head>\n<body class=\"login\">\n<div id=\"login-box\">\n<h1>블로그 로그인</h1>\n";
    if (failed)
        s += "<p class=\"error\">아이디 또는 비밀번호가 올바르지 않습니다.</p>\n";
    s += "<form method=\"post\" action=\"/login?requestURI=" +
         htmlEscape(formcodec::encodeComponent(requestUri)) +
         "&amp;try=1\">\n<input type=\"hidden\" name=\"requestURI\" value=\"" +
         htmlEscape(requestUri) +
         "\">\n<input type=\"hidden\" name=\"goPortal\" value=\"false\">\n"
         "<p><label>아이디 <input type=\"text\" name=\"loginid\"></label></p>\n"
         "<p><label>비밀번호 <input type=\"password\" name=\"password\"></label></p>\n"
         "<p><label><input type=\"checkbox\" name=\"save\" checked> 로그인 상태 "
         "유지</label></p>\n<p><button type=\"submit\">로그인</button></p>\n</form>\n</div>\n"
         "</body>\n</html>\n";
    return s;
}

std::string blogPost(long id)
{
    std::string s = head("글 " + number(id), "utf-8");
    s += "</head>\n<body>\n<div class=\"entry\">\n<h2>" + number(id) +
         "번째 글</h2>\n<p>오늘은 날씨가 맑았습니다.</p>\n</div>\n<div id=\"comments\">\n<h3>"
         "댓글</h3>\n<p>댓글과 트랙백은 이 아래에 있습니다.</p>\n</div>\n</body>\n</html>\n";
    return s;
}

std::string guestbook(const std::vector<BlogItem> &entries)
{
    std::string s = head("방명록", "utf-8");
    s += "</head>\n<body>\n<h2>방명록</h2>\n<ul>\n";
    for (const BlogItem &e : entries) {
        s += "<li id=\"guestbook" + number(e.id) + "\">" + htmlEscape(e.text) + "</li>\n";
    }
    s += "</ul>\n</body>\n</html>\n";
    return s;
}

std::string blogHome()
{
    std::string s = head("나의 블로그", "utf-8");
    s += "</head>\n<body>\n<h1>나의 블로그</h1>\n<p><a href=\"/owner/center/dashboard\">관리</a> "
         "<a href=\"/guestbook\">방명록</a></p>\n</body>\n</html>\n";
    return s;
}

std::string adminCss()
{
    return "body { font-family: 'Nanum Gothic', sans-serif; font-size: 12px; margin: 0; }\n"
           "#header { height: 40px; border-bottom: 2px solid #4a6; }\n"
           "#header .top-menu li { display: inline; margin-left: 8px; }\n"
           ".summary th { text-align: left; width: 80px; }\n"
           ".recent-list { list-style: none; padding: 0 8px; }\n"
           ".recent-list li { line-height: 20px; border-bottom: 1px dotted #ccc; }\n"
           ".board td { padding: 2px 4px; }\n.board tr.odd { background: #fafafa; }\n"
           "#footer { color: #888; padding: 12px; }\n";
}

std::string adminJs()
{
    return "var adminBoard = (function () {\n"
           "  var rows = {};\n"
           "  return { register: function (id, opts) { rows[id] = opts; },\n"
           "           count: function () { return Object.keys(rows).length; } };\n"
           "})();\n";
}

std::string logoGif()
{
    // 1x1 transparent GIF.
    static const unsigned char gif[] = {
        0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0xff, 0xff,
        0xff, 0x00, 0x00, 0x00, 0x21, 0xf9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00,
        0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3b};
    return std::string(reinterpret_cast<const char *>(gif), sizeof gif);
}

std::string garbage()
{
    static const char head[] = "\x00\x01\x02\xff\xfe<ht\x00ml><<<td id=\"cou\x00";
    std::string s(head, sizeof head - 1);
    for (int i = 0; i < 512; ++i)
        s += static_cast<char>((i * 73 + 11) & 0xFF);
    s += "</table></table>&#xDEAD;&bogus <a href=\"";
    return s;
}

std::string toEucKr(const std::string &utf8)
{
    iconv_t cd = iconv_open("EUC-KR", "UTF-8");
    // iconv's documented failure value.
    if (cd == reinterpret_cast<iconv_t>(-1)) // NOLINT(performance-no-int-to-ptr)
        return utf8;
    std::string out;
    std::string in = utf8;
    char *src = in.data();
    size_t srcLeft = in.size();
    char buf[4096];
    while (srcLeft > 0) {
        char *dst = buf;
        size_t dstLeft = sizeof buf;
        const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, static_cast<size_t>(dst - buf));
        if (r != static_cast<size_t>(-1) || errno == E2BIG)
            continue;
        // A character EUC-KR cannot hold: write it as a reference, as browsers do for forms.
        if (srcLeft == 0)
            break;
        const auto lead = static_cast<unsigned char>(*src);
        size_t len = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        len = std::min(len, srcLeft);
        unsigned cp = lead;
        if (len > 1) {
            cp = lead & (0x7Fu >> len);
            for (size_t k = 1; k < len; ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(src[k]) & 0x3Fu);
        }
        out += "&#" + std::to_string(cp) + ";";
        src += len;
        srcLeft -= len;
    }
    iconv_close(cd);
    return out;
}

} // namespace pages
