#pragma once

#include "FileUtils.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TRasterPart;

// Which parts of a raster keep their pixels in memory. The others wait in a private swap file and
// come back on demand. The loaded parts form a most-recently-used list; inside a use scope (the
// drawing) the parts the scope already used stay, and new ones take turns in the last slot.
class TPartCache {
 public:
  // The memory unit of one part in the budget.
  static constexpr int64_t PartUnit = 204800;

  // Creates the swap file; a budget below one part still holds one part.
  explicit TPartCache(int64_t cacheSize);
  ~TPartCache();
  TPartCache(const TPartCache&) = delete;
  TPartCache& operator=(const TPartCache&) = delete;

  int MaxLoadedParts() const { return FMaxLoadedParts; }
  // Most recently used first.
  const std::vector<TRasterPart*>& LoadedParts() const { return FLoadedParts; }
  int UseDepth() const { return FUseDepth; }
  int ScopeFront() const { return FScopeFront; }
  int ScopeOverflow() const { return FScopeOverflow; }
  TInsideStreamAllocator& SwapAllocator() { return FSwapAllocator; }

  // Whether touching the part would change nothing: outside a use scope, the part at the front.
  bool TouchChangesNothing(const TRasterPart* part) const {
    return FUseDepth == 0 && !FLoadedParts.empty() && FLoadedParts.front() == part;
  }
  // Records a use of a loaded part; may unload the parts that fall out of the budget.
  void Touch(TRasterPart* part);
  void BeginUse();
  void EndUse();
  // Brings the part's pixels into memory (from the swap file when it has been written there) and
  // touches it.
  void Load(TRasterPart& part);
  // Gives an unloaded part zeroed pixels, for a caller that overwrites them all, and touches it.
  void LoadZeroed(TRasterPart& part);
  // Reads an unloaded part's pixels from where they wait (the swap file or the source file) into
  // the target, touching nothing: safe from several threads while the manager is left alone.
  void ReadPixels(const TRasterPart& part, uint8_t* target) const;
  // Reads the stored rows of a part whose pixels wait in the swap file straight to where they are
  // wanted, touching nothing: stored row r goes to first + r * stride, its first bytes bytes.
  void ReadRows(const TRasterPart& part, uint8_t* first, int64_t stride, int64_t bytes) const;
  // Writes the pixels to the swap file when they are new or changed, then frees them.
  void Unload(TRasterPart& part);
  // Takes a part that is being destroyed off the list.
  void Forget(TRasterPart* part);
  // Empties the swap file; only when no part has pixels there any more.
  void ResetSwap();
  // Exchanges the loaded parts and the swap file with another cache of the same budget, outside
  // use scopes: the parts go with their pixels (see TRasterManager::SwapPixels).
  void SwapParts(TPartCache& other);

  // Told of pixels that have come into memory (a new part, or one read back) and of changed pixels
  // about to leave it, so that pictures made from them can follow.
  std::function<void(TRasterPart& part, const uint8_t* bits)> OnPixels;
  void PixelsAvailable(TRasterPart& part);

 private:
  int IndexOf(const TRasterPart* part) const;
  void Trim(const TRasterPart* touched);
  void UnloadFrom(int keep);

  int FMaxLoadedParts;
  std::vector<TRasterPart*> FLoadedParts;
  std::unique_ptr<TTempFileStream> FSwapStream;
  TInsideStreamAllocator FSwapAllocator;
  int FUseDepth = 0;
  int FScopeFront = 0;
  int FScopeOverflow = 0;
};
