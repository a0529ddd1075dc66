#pragma once

#include "document/htmldocument.h"

#include <span>
#include <string>
#include <vector>

// Everything a reader of the elements with these ids can learn from a document, one line
// per field, so a document parsed only as far as those need can be compared with the
// whole page's line by line.
inline std::vector<std::string> documentReading(const HtmlDocument &document,
                                                std::span<const std::string> ids)
{
    std::vector<std::string> out;
    out.push_back(std::string("body ") + (document.body() ? "yes" : "no"));
    out.push_back("base " + document.baseUrl());
    out.push_back("encoding " + document.encodingName());
    auto element = [&out](const std::string &where, const HtmlElement &e) {
        out.push_back(where + " tag " + e.tagName());
        out.push_back(where + " innerText " + e.innerText());
        out.push_back(where + " outerText " + e.outerText());
        for (const char *attribute : {"href", "id", "class"}) {
            const auto value = e.getAttribute(attribute);
            out.push_back(where + " " + attribute + (value ? " = " + *value : " absent"));
        }
    };
    for (const std::string &id : ids) {
        const HtmlElement *e = document.getElementById(id);
        if (!e) {
            out.push_back("#" + id + " none");
            continue;
        }
        element("#" + id, *e);
        const auto all = e->all();
        out.push_back("#" + id + " descendants " + std::to_string(all.size()));
        for (std::size_t i = 0; i < all.size(); ++i)
            element("#" + id + "/" + std::to_string(i), *all[i]);
    }
    return out;
}
