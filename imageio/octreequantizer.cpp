#include "octreequantizer.h"

#include <algorithm>

struct OctreeQuantizer::Node {
    Node *child[8] = {};
    Node *next = nullptr; // next in its level's reducible list
    // 64-bit sums: a 20-megapixel picture of one bright colour overflows 32 bits.
    uint64_t pixels = 0;
    uint64_t red = 0;
    uint64_t green = 0;
    uint64_t blue = 0;
    uint32_t children = 0;
    bool leaf = false;
};

OctreeQuantizer::OctreeQuantizer(uint32_t maxColours, uint32_t colourBits)
    : m_maxColours(std::max<uint32_t>(maxColours, 1)),
      m_colourBits(std::clamp<uint32_t>(colourBits, 1, 8)),
      m_reducible(m_colourBits + 1, nullptr)
{
    m_root = NewNode(0);
}

OctreeQuantizer::~OctreeQuantizer() = default;

OctreeQuantizer::Node *OctreeQuantizer::NewNode(uint32_t level)
{
    if (m_freeNodes.empty()) {
        constexpr size_t kBlock = 256;
        m_blocks.push_back(std::make_unique<Node[]>(kBlock));
        Node *block = m_blocks.back().get();
        for (size_t i = kBlock; i-- > 0;)
            m_freeNodes.push_back(block + i);
    }
    Node *node = m_freeNodes.back();
    m_freeNodes.pop_back();
    *node = Node{};
    if (level == m_colourBits) {
        node->leaf = true;
        ++m_leafCount;
    } else {
        node->next = m_reducible[level];
        m_reducible[level] = node;
    }
    return node;
}

void OctreeQuantizer::FreeNode(Node *node)
{
    m_freeNodes.push_back(node);
}

void OctreeQuantizer::AddColour(uint8_t red, uint8_t green, uint8_t blue)
{
    const uint32_t rgb = (uint32_t{red} << 16) | (uint32_t{green} << 8) | blue;
    Node *node = nullptr;
    if (m_lastLeaf && rgb == m_lastRgb) {
        node = m_lastLeaf;
    } else {
        node = m_root;
        for (uint32_t level = 0; !node->leaf; ++level) {
            const int shift = 7 - static_cast<int>(level);
            const int index = (((red >> shift) & 1) << 2) | (((green >> shift) & 1) << 1) |
                              ((blue >> shift) & 1);
            if (!node->child[index]) {
                node->child[index] = NewNode(level + 1);
                ++node->children;
            }
            node = node->child[index];
        }
    }
    ++node->pixels;
    node->red += red;
    node->green += green;
    node->blue += blue;
    m_lastLeaf = node;
    m_lastRgb = rgb;

    while (m_leafCount > m_maxColours) {
        m_lastLeaf = nullptr;
        Reduce();
    }
}

void OctreeQuantizer::Reduce()
{
    uint32_t level = m_colourBits - 1;
    while (level > 1 && !m_reducible[level])
        --level;
    // Only leaves hang below level 1 once its list is empty; with a palette smaller than the
    // root's eight children (2 colours) the root itself has to fold.
    if (!m_reducible[level])
        level = 0;
    Node *node = m_reducible[level];
    if (!node)
        return;
    m_reducible[level] = node->next;
    node->next = nullptr;

    // The deepest reducible level is folded first, so every child here is a leaf.
    for (Node *&child : node->child) {
        if (!child)
            continue;
        node->pixels += child->pixels;
        node->red += child->red;
        node->green += child->green;
        node->blue += child->blue;
        FreeNode(child);
        child = nullptr;
    }
    node->leaf = true;
    m_leafCount = m_leafCount + 1 - node->children;
    node->children = 0;
}

bool OctreeQuantizer::ProcessImage(const PxImage &image)
{
    if (!image.IsValid())
        return false;
    const uint32_t bpp = image.GetBpp();
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24)
        return false;
    const uint32_t w = image.GetWidth(), h = image.GetHeight();
    for (uint32_t y = 0; y < h; ++y) {
        if (bpp == 24) {
            const uint8_t *p = image.GetBits(y);
            for (uint32_t x = 0; x < w; ++x, p += 3)
                AddColour(p[2], p[1], p[0]);
        } else {
            for (uint32_t x = 0; x < w; ++x) {
                const PxRGBQuad c = image.GetPaletteColor(
                    image.GetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y)));
                AddColour(c.red, c.green, c.blue);
            }
        }
    }
    return true;
}

uint32_t OctreeQuantizer::GetPalette(PxRGBQuad *palette, uint32_t capacity) const
{
    uint32_t written = 0;
    auto walk = [&](auto &&self, const Node *node) -> void {
        if (node->leaf) {
            if (written < capacity && node->pixels) {
                palette[written++] = PxRGBQuad{static_cast<uint8_t>(node->blue / node->pixels),
                                               static_cast<uint8_t>(node->green / node->pixels),
                                               static_cast<uint8_t>(node->red / node->pixels), 0};
            }
            return;
        }
        for (const Node *child : node->child)
            if (child)
                self(self, child);
    };
    walk(walk, m_root);
    return written;
}

bool QuantizeToPalette(PxImage &image, uint32_t bits)
{
    uint32_t maxColours = 0;
    switch (bits) {
    case 8: maxColours = 256; break;
    case 4: maxColours = 16; break;
    case 1: maxColours = 2; break;
    default: return false;
    }
    OctreeQuantizer quantizer(maxColours, 8);
    if (!quantizer.ProcessImage(image))
        return false;
    PxRGBQuad palette[256] = {};
    const uint32_t colours = quantizer.GetPalette(palette, maxColours);
    // The entries past the octree's colours stay black; passing the count as the number of
    // important colours keeps them out of the nearest-colour search, so no pixel lands on one.
    return image.DecreaseBpp(bits, false, palette, colours);
}
