#pragma once
// Integer geometry of the drawing canvas: its size, the placement grid,
// rectangles of visual items and the tree walks every canvas service shares.

#include "qor/server/entities/VisualItem.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace qor::server::canvas {

inline constexpr std::int32_t CANVAS_WIDTH = 16000;
inline constexpr std::int32_t CANVAS_HEIGHT = 10000;
inline constexpr std::int32_t GRID = 8;

// Toward zero: 13 -> 8, -13 -> -8.
constexpr std::int32_t truncToGrid(std::int32_t v) { return v - v % GRID; }
// Downwards: 13 -> 8, -3 -> -8 (two's complement: clearing the low bits floors).
constexpr std::int32_t floorToGrid(std::int32_t v) { return v & ~(GRID - 1); }

struct Rect {
  std::int32_t left = 0;
  std::int32_t right = 0;
  std::int32_t top = 0;
  std::int32_t bottom = 0;

  std::int32_t width() const { return right - left; }
  std::int32_t height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

Rect rectOf(const VisualItem& item);
// The smallest rectangle holding every item's rectangle; (0, 0, 0, 0) when empty.
Rect boundingBox(const std::vector<VisualItem*>& items);
// True when the two rectangles share an area larger than zero.
bool overlaps(const Rect& a, const Rect& b);

// The top ancestor (the item itself when it has no parent); null for null.
VisualItem* topAncestor(VisualItem* item);
// The item and all its descendants, parents before children.
void forEachInSubtree(VisualItem* item, const std::function<void(VisualItem*)>& fn);
// All items share one (possibly null) parent; false for an empty list.
bool shareOneParent(const std::vector<VisualItem*>& items);

// Writes that fire a change only when the value differs.
void setX(VisualItem* item, std::int32_t v);
void setY(VisualItem* item, std::int32_t v);
void setZ(VisualItem* item, std::int32_t v);
void setWidth(VisualItem* item, std::int32_t v);
void setHeight(VisualItem* item, std::int32_t v);
void setRect(VisualItem* item, const Rect& r);

}  // namespace qor::server::canvas
