// The memory budget of decoded texture pictures, shared by every plug-in
// module of the process.
//
// Image readers reserve the memory of a picture before they decode it (its
// size is known from the file's header) and hold the reservation as long as
// the picture lives, so that a small compressed file that claims a huge
// picture, or many textures together, stop with a clear message instead of
// exhausting the machine's memory. Thread-safe.
#ifndef VEXLAR_TEXTUREBUDGET_H
#define VEXLAR_TEXTUREBUDGET_H

#include <cstdint>
#include <memory>
#include <string>

namespace vexlar {

/// The bytes all textures together may hold: by default half the machine's
/// physical memory (4 GiB when that is unknown).
std::uint64_t textureMemoryBudget();
/// Replaces the budget (0 restores the default).
void setTextureMemoryBudget(std::uint64_t bytes);
/// Bytes reserved now.
std::uint64_t textureMemoryInUse();

/// A reservation of texture memory, given back when the last copy of the
/// handle goes.
using textureReservation_t = std::shared_ptr<const void>;

/// Reserves `bytes` for a `width` x `height` picture. Null, with the reason
/// in `error` ("the picture is 16000 x 16000 pixels and needs 3.8 GiB of
/// texture memory; 1.2 GiB of the 4.0 GiB budget is left"), when it would
/// exceed the budget.
textureReservation_t reserveTextureMemory(std::uint64_t bytes, long long width, long long height,
                                          std::string& error);

} // namespace vexlar

#endif
