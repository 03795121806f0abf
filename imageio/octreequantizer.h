#pragma once
// Octree colour quantization after Gervautz and Purgathofer: reduces a picture to a palette of
// at most 2, 16 or 256 colours for the palette-only output formats.

#include "engine/pximage.h"

#include <cstdint>
#include <memory>
#include <vector>

class OctreeQuantizer {
public:
    // maxColours: the palette size to reduce to; colourBits: depth of the tree (leaves sit at
    // this level), 1 to 8.
    explicit OctreeQuantizer(uint32_t maxColours, uint32_t colourBits = 8);
    ~OctreeQuantizer();
    OctreeQuantizer(const OctreeQuantizer &) = delete;
    OctreeQuantizer &operator=(const OctreeQuantizer &) = delete;

    // Adds every pixel of a 1, 4, 8 or 24-bit image, rows in stored order (bottom row first),
    // each left to right. False for an empty image or another depth.
    bool ProcessImage(const PxImage &image);
    void AddColour(uint8_t red, uint8_t green, uint8_t blue);

    uint32_t GetColourCount() const { return m_leafCount; }
    // Writes one entry per leaf in depth-first order (children 0 to 7), each the integer mean of
    // the colours that reached it, reserved byte 0. Returns the number of entries written, at
    // most `capacity`.
    uint32_t GetPalette(PxRGBQuad *palette, uint32_t capacity) const;

private:
    struct Node;
    Node *NewNode(uint32_t level);
    void FreeNode(Node *node);
    void Reduce();

    uint32_t m_maxColours;
    uint32_t m_colourBits;
    uint32_t m_leafCount = 0;
    Node *m_root = nullptr;
    std::vector<Node *> m_reducible; // per level, head = most recently created
    std::vector<Node *> m_freeNodes;
    std::vector<std::unique_ptr<Node[]>> m_blocks;
    // The leaf the previous colour reached, to skip the walk for runs of one colour; forgotten
    // whenever a reduction may have folded it away.
    Node *m_lastLeaf = nullptr;
    uint32_t m_lastRgb = 0;
};

// Replaces a 1, 4, 8 or 24-bit image by a palette image of `bits` (1, 4 or 8) bits whose palette
// the octree built from the image's own colours; every pixel gets the nearest of those colours.
// Unused palette entries are black and never chosen. False when nothing could be done.
bool QuantizeToPalette(PxImage &image, uint32_t bits);
