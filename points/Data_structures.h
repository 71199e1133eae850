#pragma once
// Point records and the indexed point list shared by the readers, the command and the solver.
//
// Coordinates: image points are corrected pixels with the origin at the image centre and y up;
// scene points are in the unit of the scene coordinate file. A point's number in the files is its
// index + 1.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "base/zelv_error.h"

namespace zelv {

// A 32-bit RGB colour value, as 0x00BBGGRR.
using Colour = std::uint32_t;

// The small drawing surface that VT_Drawable::Draw paints on; the windows implement it with
// QPainter, the tests with a recorder. Coordinates are device pixels.
class Canvas {
 public:
  virtual ~Canvas() = default;
  // Fills the rectangle [left, right) x [top, bottom) with the colour (pen and brush solid).
  virtual void FillRectangle(int left, int top, int right, int bottom, Colour colour) = 0;
};

class VT_Drawable {
 public:
  virtual ~VT_Drawable() = default;
  // Paints the item on a grid whose rows follow x and whose columns follow y.
  virtual void Draw(Canvas& canvas, std::int32_t originRow, std::int32_t originColumn,
                    double rowScale, double columnScale) = 0;
  virtual double GetMaxY() = 0;
  virtual double GetMinY() = 0;
  virtual double GetMaxX() = 0;
  virtual double GetMinX() = 0;

  Colour color = 0;  // not set by VT_Point's constructor
};

class VT_Point : public VT_Drawable {
 public:
  VT_Point(double x, double y) : x(x), y(y) {}
  VT_Point(const VT_Point& other) : VT_Drawable(), x(other.x), y(other.y) {}

  void Draw(Canvas& canvas, std::int32_t originRow, std::int32_t originColumn, double rowScale,
            double columnScale) override;
  double GetMaxY() override { return y; }
  double GetMinY() override { return y; }
  double GetMaxX() override { return x; }
  double GetMinX() override { return x; }

  double x;
  double y;
};

// A 3-D point; the main window keeps the projection centre in one.
class TPoint3 {
 public:
  TPoint3(double x, double y, double z) : x(x), y(y), z(z) {}
  virtual ~TPoint3() = default;
  virtual void Nothing() {}

  double x;
  double y;
  double z;
};

// The indexed list of heap-allocated items; with ownsItems = 1 it deletes them in Clear and in its
// destructor, with 0 never. Items made by Emplace live in the list's own storage instead (blocks
// of many items, so that a reader of a million points does not allocate each one) and end with
// Clear or the list, whatever ownsItems says.
template <typename T>
class ListOfT {
 public:
  explicit ListOfT(int ownsItems) {
    if (ownsItems != 0 && ownsItems != 1)
      throw ZelvError("Wrong parameter transferred to ListOfT::ListOfT");
    this->ownsItems = static_cast<std::uint8_t>(ownsItems);
  }
  ListOfT(const ListOfT&) = delete;
  ListOfT& operator=(const ListOfT&) = delete;
  ~ListOfT() { Release(); }

  T* Get(std::int32_t index) const {
    if (index < 0 || index >= Count()) throw ZelvError("Index out of bounds ListOfT::Get");
    return items[static_cast<std::size_t>(index)];
  }
  void Add(T* item) {
    items.push_back(item);
    if (!inStorage.empty()) inStorage.push_back(false);
  }
  // Appends an item constructed from `args` in the list's storage and returns it.
  template <typename... Args>
  T* Emplace(Args&&... args) {
    if (inStorage.empty()) inStorage.assign(items.size(), false);
    if (blocks.empty() || blocks.back().used == blocks.back().capacity) {
      const std::size_t capacity =
          blocks.empty() ? kFirstBlock : std::min(2 * blocks.back().capacity, kLargestBlock);
      T* storage = std::allocator<T>().allocate(capacity);
      try {
        blocks.push_back({storage, 0, capacity});
      } catch (...) {
        std::allocator<T>().deallocate(storage, capacity);
        throw;
      }
    }
    items.push_back(nullptr);
    try {
      inStorage.push_back(true);
      Block& block = blocks.back();
      items.back() = std::construct_at(block.items + block.used, std::forward<Args>(args)...);
      ++block.used;
    } catch (...) {
      if (inStorage.size() > items.size() - 1) inStorage.pop_back();
      items.pop_back();
      throw;
    }
    return items.back();
  }
  std::int32_t Count() const { return static_cast<std::int32_t>(items.size()); }
  void Clear() {
    Release();
    items.clear();
    inStorage.clear();
    blocks.clear();
  }

  std::uint8_t ownsItems;

 private:
  struct Block {
    T* items;
    std::size_t used, capacity;
  };
  static constexpr std::size_t kFirstBlock = 16, kLargestBlock = std::size_t{1} << 16;

  void Release() {
    if (ownsItems == 1)
      for (std::size_t i = 0; i < items.size(); ++i)
        if (inStorage.empty() || !inStorage[i]) delete items[i];
    for (Block& block : blocks) {
      std::destroy_n(block.items, block.used);
      std::allocator<T>().deallocate(block.items, block.capacity);
    }
  }
  std::vector<T*> items;
  std::vector<bool> inStorage;  // empty while no item was emplaced
  std::vector<Block> blocks;
};

using VT_Points = ListOfT<VT_Point>;

}  // namespace zelv
