// The login form: whatever the ID and password hold, the body must decode back to
// exactly them, with no field of their own smuggled in; and whatever the blog's path holds,
// requestURI must decode back to its dashboard.
#include "blog/blogaddress.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1; // formEncode writes upper-case digits only
}

bool isPlain(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == '*';
}

// application/x-www-form-urlencoded decoding, strict about what formEncode may emit.
std::string decodeValue(std::string_view encoded)
{
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            check(i + 2 < encoded.size());
            const int hi = hexValue(encoded[i + 1]);
            const int lo = hexValue(encoded[i + 2]);
            check(hi >= 0 && lo >= 0);
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            check(isPlain(c));
            out += c;
        }
    }
    return out;
}

// The form decoding a host applies to requestURI, which keeps the blog address's own
// characters as they are.
std::string decodeLoosely(std::string_view encoded)
{
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < encoded.size() && hexValue(encoded[i + 1]) >= 0 &&
                   hexValue(encoded[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(encoded[i + 1]) * 16 + hexValue(encoded[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> splitBody(const std::string &body)
{
    std::vector<std::pair<std::string, std::string>> fields;
    std::size_t pos = 0;
    while (pos <= body.size()) {
        std::size_t end = body.find('&', pos);
        if (end == std::string::npos)
            end = body.size();
        const std::string_view part(body.data() + pos, end - pos);
        const std::size_t eq = part.find('=');
        check(eq != std::string_view::npos);
        fields.emplace_back(std::string(part.substr(0, eq)), std::string(part.substr(eq + 1)));
        pos = end + 1;
    }
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const char *const blogs[] = {"http://127.0.0.1:8080", "https://blog.example",
                                        "http://localhost"};
    if (size < 2)
        return 0;
    const std::string blog = blogs[data[0] % 3];
    const std::size_t rest = size - 2;
    const std::size_t idLength = rest == 0 ? 0 : data[1] % (rest + 1);
    const char *text = reinterpret_cast<const char *>(data + 2);
    const std::string id(text, idLength);
    const std::string password(text + idLength, rest - idLength);

    const std::string encoded = blogaddress::formEncode(password);
    check(decodeValue(encoded) == password);

    const auto fields = splitBody(blogaddress::loginBody(blog, id, password));
    check(fields.size() == 5);
    check(fields[0].first == "requestURI");
    check(fields[1].first == "goPortal" && fields[1].second == "false");
    check(fields[2].first == "loginid" && decodeValue(fields[2].second) == id);
    check(fields[3].first == "password" && decodeValue(fields[3].second) == password);
    check(fields[4].first == "save" && fields[4].second == "on");

    // The ID's bytes as the blog's path this time.
    const std::string pathBlog = blog + "/" + id;
    const auto pathFields = splitBody(blogaddress::loginBody(pathBlog, "id", "pw"));
    check(pathFields.size() == 5 && pathFields[0].first == "requestURI");
    check(decodeLoosely(pathFields[0].second) == blogaddress::dashboardAddress(pathBlog));
    return 0;
}
