#pragma once

#include <gumbo.h>

#include <string>
#include <unordered_map>

// The HTML Standard's innerText getter over a gumbo tree, with every element styled by the
// default user-agent style sheet (the only style sheet we apply). Builds its white-space
// picture of the whole page once, on first use, so each call costs only its element's size.
class RenderedText
{
public:
    // rawText: text that replaces an element's children (noscript, which a browser with
    // scripting on reads as raw text).
    // restore: the parsed text holds gumboinput stand-ins to turn back.
    RenderedText(const GumboNode *root,
                 const std::unordered_map<const GumboNode *, std::string> &rawText, bool restore);
    RenderedText(const RenderedText &) = delete;
    RenderedText &operator=(const RenderedText &) = delete;

    std::string innerText(const GumboNode *element) const;
    std::string textContent(const GumboNode *element) const;
    // False for an element the default style sheet hides (or one inside such an element).
    bool isRendered(const GumboNode *element) const;

private:
    void collapseWhiteSpace() const;

    std::string finish(std::string text) const;

    const GumboNode *m_root;
    bool m_restore;
    const std::unordered_map<const GumboNode *, std::string> &m_rawText;
    // Each rendered text node's text after white-space processing.
    mutable std::unordered_map<const GumboNode *, std::string> m_rendered;
    mutable bool m_collapsed = false;
};
