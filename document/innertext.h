#pragma once

#include <gumbo.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

// The HTML Standard's innerText getter over a gumbo tree, with every element styled by the
// default user-agent style sheet (the only style sheet we apply). White space is processed
// on demand, one line-breaking box at a time, and kept, so each call costs about its
// element's size.
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

    // At most limit bytes of the text (a cut may split a UTF-8 sequence); the walk stops
    // there, so a short prefix of a large element is cheap.
    std::string innerText(const GumboNode *element, std::size_t limit = std::string::npos) const;
    std::string textContent(const GumboNode *element) const;
    // False for an element the default style sheet hides (or one inside such an element).
    bool isRendered(const GumboNode *element) const;

private:
    const GumboNode *lineRoot(const GumboNode *node) const;
    std::uint8_t inheritedWhiteSpace(const GumboNode *block) const;
    void ensureCollapsed(const GumboNode *textNode) const;
    void collapseWhiteSpace(const GumboNode *block) const;

    std::string finish(std::string text) const;

    const GumboNode *m_root;
    bool m_restore;
    const std::unordered_map<const GumboNode *, std::string> &m_rawText;
    // Each rendered text node's text after white-space processing.
    mutable std::unordered_map<const GumboNode *, std::string> m_rendered;
    // Boxes whose text has been processed (each box inside one counts as processed too).
    mutable std::unordered_set<const GumboNode *> m_collapsedBlocks;
    // Answers found by walking up the tree, kept for every element a walk passed: with one
    // walk per text node or box, the same ancestors would otherwise be passed again and again.
    bool m_quirks;
    mutable std::unordered_map<const GumboNode *, const GumboNode *> m_lineRoots;
    mutable std::unordered_map<const GumboNode *, std::uint8_t> m_whiteSpace;
    mutable std::unordered_map<const GumboNode *, bool> m_svgText;
};
