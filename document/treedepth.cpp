#include "treedepth.h"

#include "document/defaultstyle.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using defaultstyle::isElement;

constexpr unsigned kMaxDepth = 512; // open elements, counting html as 1

// The tree is ours to reshape; the shared lookup only hands out const views.
GumboVector *childrenOf(GumboNode *n)
{
    return const_cast<GumboVector *>(defaultstyle::childrenOf(n));
}

// Text stays with the element it was parsed into; elements and comments move.
bool moves(const GumboNode *n)
{
    return isElement(n) || n->type == GUMBO_NODE_COMMENT;
}

GumboNode *child(const GumboVector &v, unsigned i)
{
    return static_cast<GumboNode *>(v.data[i]);
}

void setChildren(GumboNode *parent, const std::vector<GumboNode *> &kids)
{
    GumboVector &v = parent->v.element.children;
    if (kids.size() > v.capacity) {
        // gumbo frees these arrays with the default deallocator, free().
        void **data = static_cast<void **>(std::malloc(kids.size() * sizeof(void *)));
        if (!data)
            return; // out of memory: leave the deep tree as gumbo built it
        std::free(v.data);
        v.data = data;
        v.capacity = static_cast<unsigned>(kids.size());
    }
    for (std::size_t i = 0; i < kids.size(); ++i) {
        v.data[i] = kids[i];
        kids[i]->parent = parent;
        kids[i]->index_within_parent = i;
    }
    v.length = static_cast<unsigned>(kids.size());
}

// Everything below the element at the limit becomes its child, in the order the parser
// inserted it; moved elements keep only their text.
void flatten(GumboNode *top)
{
    std::vector<GumboNode *> topKids;
    std::vector<GumboNode *> moved;
    struct Frame
    {
        GumboNode *node;
        unsigned next;
    };
    std::vector<Frame> stack{{top, 0}};
    while (!stack.empty()) {
        Frame &f = stack.back();
        const GumboVector &kids = f.node->v.element.children;
        if (f.next >= kids.length) {
            stack.pop_back();
            continue;
        }
        GumboNode *c = child(kids, f.next++);
        if (f.node == top || moves(c))
            topKids.push_back(c);
        if (c->type == GUMBO_NODE_ELEMENT) { // template content stays inside its template
            moved.push_back(c);
            stack.push_back({c, 0});
        }
    }
    for (GumboNode *m : moved) {
        std::vector<GumboNode *> text;
        const GumboVector &kids = m->v.element.children;
        for (unsigned i = 0; i < kids.length; ++i)
            if (!moves(child(kids, i)))
                text.push_back(child(kids, i));
        setChildren(m, text);
    }
    setChildren(top, topKids);
}

} // namespace

TreeShape capTreeDepth(GumboNode *document)
{
    TreeShape shape;
    if (!document || document->type != GUMBO_NODE_DOCUMENT)
        return shape;
    std::size_t &elements = shape.elements;
    std::vector<GumboNode *> atLimit;
    struct Frame
    {
        GumboNode *node;
        unsigned next;
        unsigned depth;
    };
    std::vector<Frame> stack;
    const GumboVector &roots = document->v.document.children;
    for (unsigned i = 0; i < roots.length; ++i)
        if (child(roots, i)->type == GUMBO_NODE_ELEMENT) {
            stack.push_back({child(roots, i), 0, 1});
            ++elements;
        }
    while (!stack.empty()) {
        Frame &f = stack.back();
        const GumboVector &kids = f.node->v.element.children;
        if (f.next >= kids.length) {
            stack.pop_back();
            continue;
        }
        GumboNode *c = child(kids, f.next++);
        if (c->type == GUMBO_NODE_TEMPLATE)
            shape.templates = true;
        if (c->type != GUMBO_NODE_ELEMENT)
            continue;
        ++elements;
        const unsigned depth = f.depth + 1;
        if (depth == kMaxDepth) {
            atLimit.push_back(c); // only deeper grandchildren change; flatten decides
            continue;
        }
        stack.push_back({c, 0, depth});
    }
    for (GumboNode *top : atLimit) {
        bool deeper = false;
        const GumboVector &kids = top->v.element.children;
        for (unsigned i = 0; i < kids.length && !deeper; ++i) {
            const GumboNode *k = child(kids, i);
            if (k->type == GUMBO_NODE_ELEMENT)
                for (unsigned j = 0; j < k->v.element.children.length && !deeper; ++j)
                    deeper = moves(child(k->v.element.children, j));
        }
        if (deeper)
            flatten(top);
    }
    return shape;
}

void flattenForDestroy(GumboNode *document)
{
    if (!document || document->type != GUMBO_NODE_DOCUMENT)
        return;
    struct Frame
    {
        GumboNode *node;
        unsigned next;
    };
    std::vector<Frame> stack{{document, 0}};
    bool deep = false;
    while (!stack.empty() && !deep) {
        Frame &f = stack.back();
        const GumboVector *kids = childrenOf(f.node);
        if (f.next >= kids->length) {
            stack.pop_back();
            continue;
        }
        GumboNode *c = child(*kids, f.next++);
        if (childrenOf(c)) {
            stack.push_back({c, 0});
            deep = stack.size() > kMaxDepth;
        }
    }
    if (!deep)
        return;

    std::vector<GumboNode *> all;
    std::vector<GumboNode *> pending{document};
    while (!pending.empty()) {
        GumboNode *n = pending.back();
        pending.pop_back();
        if (const GumboVector *kids = childrenOf(n))
            for (unsigned i = 0; i < kids->length; ++i) {
                all.push_back(child(*kids, i));
                pending.push_back(child(*kids, i));
            }
    }
    GumboVector &top = document->v.document.children;
    if (all.size() > top.capacity) {
        void **data = static_cast<void **>(std::malloc(all.size() * sizeof(void *)));
        if (!data)
            return;
        std::free(top.data);
        top.data = data;
        top.capacity = static_cast<unsigned>(all.size());
    }
    for (GumboNode *n : all)
        if (GumboVector *kids = childrenOf(n))
            kids->length = 0; // the array itself is still gumbo's to free
    for (std::size_t i = 0; i < all.size(); ++i)
        top.data[i] = all[i];
    top.length = static_cast<unsigned>(all.size());
}
