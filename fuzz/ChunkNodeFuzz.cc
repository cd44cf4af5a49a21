// Feeds arbitrary bytes to the chunk-tree reader: it must either return a
// tree (which must then save and reload to the same bytes) or throw one of
// the chunk exceptions; never crash, hang or allocate beyond the input.

#include <cstdint>
#include <sstream>
#include <string>

#include "foundation/utils/ChunkNode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  {
    std::istringstream counting(bytes);
    utils::ChunkNode::CountChunks(counting, 0, 3);
  }
  std::istringstream in(bytes);
  utils::ChunkNode::Ptr root;
  try {
    root = utils::ChunkNode::Load(in);
  } catch (const utils::Exception&) {
    return 0;
  }
  // Only a level-0 root is written with file header and end marker, so only
  // such a tree can be read back from what Save writes.
  if (!root || root->level != 0) return 0;
  for (const auto& child : root->GetChildren()) {
    try {
      child->CheckVersion();
    } catch (const utils::InvalidChunkVersionException&) {
    }
  }
  std::ostringstream first;
  root->Save(first);
  std::istringstream again(first.str());
  utils::ChunkNode::Ptr reread = utils::ChunkNode::Load(again);
  std::ostringstream second;
  reread->Save(second);
  if (first.str() != second.str()) __builtin_trap();
  return 0;
}
