#include "foundation/utils/ChunkNode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <istream>
#include <limits>
#include <ostream>

namespace utils {
namespace {

constexpr std::size_t kHeaderSize = 64;
constexpr char kFileMagic[] = "*ZENTO**";
constexpr char kChunkMagic[] = "*CHUNK**";
constexpr char kEndMagic[] = "*EOF****";
// Payloads are read in blocks of this size so that a header claiming a huge
// payload never allocates more than the stream really holds.
constexpr std::size_t kReadBlock = 1 << 20;

using Header = std::array<std::uint8_t, kHeaderSize>;

template <typename T>
void Put(Header& header, std::size_t offset, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    header[offset + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
  }
}

template <typename T>
T Get(const Header& header, std::size_t offset) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value |= std::uint64_t{header[offset + i]} << (8 * i);
  return static_cast<T>(value);
}

Header MagicOnly(const char* magic) {
  Header header{};
  std::memcpy(header.data(), magic, 8);
  return header;
}

bool HasMagic(const Header& header, const char* magic) {
  return std::memcmp(header.data(), magic, 8) == 0;
}

void WriteHeader(std::ostream& stream, const Header& header) {
  stream.write(reinterpret_cast<const char*>(header.data()), kHeaderSize);
}

Header ReadChunkHeader(std::istream& stream) {
  Header header{};
  stream.read(reinterpret_cast<char*>(header.data()), kHeaderSize);
  if (static_cast<std::size_t>(stream.gcount()) != kHeaderSize) {
    throw InvalidChunkFormatException("ChunkNode::ReadChunkHeader", "Invalid chunk header.");
  }
  return header;
}

// Reads exactly size bytes, growing the buffer block by block.
bool ReadBytes(std::istream& stream, std::uint64_t size, std::vector<std::uint8_t>& out) {
  out.clear();
  while (out.size() < size) {
    const std::size_t block =
        static_cast<std::size_t>(std::min<std::uint64_t>(kReadBlock, size - out.size()));
    const std::size_t start = out.size();
    out.resize(start + block);
    stream.read(reinterpret_cast<char*>(out.data() + start), static_cast<std::streamsize>(block));
    if (static_cast<std::size_t>(stream.gcount()) != block) return false;
  }
  return true;
}

// Skips size bytes; false when the stream ends first.
bool SkipBytes(std::istream& stream, std::uint64_t size) {
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::streamsize>::max());
  while (size > 0) {
    const auto step = static_cast<std::streamsize>(std::min(size, kMax));
    stream.ignore(step);
    if (stream.gcount() != step) return false;
    size -= static_cast<std::uint64_t>(step);
  }
  return true;
}

// Wraps the derived-only constructor for make_shared.
struct NodeFactory : ChunkNode {
  explicit NodeFactory(std::string name) : ChunkNode(std::move(name)) {}
};

}  // namespace

ChunkNode::~ChunkNode() {
  // Unlink the subtree iteratively: recursive destruction of a tree read from
  // a hostile file could exhaust the stack.
  std::vector<Ptr> pending = std::move(m_children);
  while (!pending.empty()) {
    Ptr node = std::move(pending.back());
    pending.pop_back();
    if (node && node.use_count() == 1) {
      for (Ptr& child : node->m_children) pending.push_back(std::move(child));
      node->m_children.clear();
    }
  }
}

ChunkNode::Ptr ChunkNode::NewNode(const std::string& name) {
  return std::make_shared<NodeFactory>(name);
}

ChunkNode::Ptr ChunkNode::NewChild(const std::string& name) {
  Ptr child = NewNode(name);
  child->level = level + 1;
  m_children.push_back(child);
  return child;
}

void ChunkNode::AddChild(const Ptr& node) {
  if (!node) return;
  m_children.push_back(node);
  node->level = level + 1;
  std::vector<ChunkNode*> pending{node.get()};
  while (!pending.empty()) {
    ChunkNode* parent = pending.back();
    pending.pop_back();
    for (const Ptr& child : parent->m_children) {
      child->level = parent->level + 1;
      pending.push_back(child.get());
    }
  }
}

void ChunkNode::SetData(const void* data, std::size_t size) {
  if (data == nullptr || size == 0) {
    m_data.clear();
    return;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  m_data.assign(bytes, bytes + size);
}

void ChunkNode::GetData(void* destination, std::size_t size) const {
  if (destination == nullptr) return;
  if (size != m_data.size()) ThrowSizeMismatch(size);
  if (size > 0) std::memcpy(destination, m_data.data(), size);
}

void ChunkNode::ThrowSizeMismatch(std::size_t size) const {
  throw InvalidChunkSizeException("ChunkNode::GetData", "Invalid chunk data size of node " + m_name +
                                                            ": " + std::to_string(m_data.size()) +
                                                            " requested, " + std::to_string(size) +
                                                            " required");
}

void ChunkNode::SetString(const std::string& text) {
  m_data.assign(text.begin(), text.end());
  m_data.push_back(0);
}

std::string ChunkNode::GetString() const {
  if (m_data.size() < 2) return {};
  std::string text(m_data.begin(), m_data.end() - 1);
  // A payload with an inner NUL reads up to it, as a C string would.
  text.resize(std::strlen(text.c_str()));
  return text;
}

ChunkNode::Ptr ChunkNode::Child(const std::string& name) const {
  Ptr child = FindChild(name);
  if (!child) throw ChunkNotFoundException("ChunkNode::Child", "Chunk not found: " + name);
  return child;
}

ChunkNode::Ptr ChunkNode::FindChild(const std::string& name) const {
  for (const Ptr& child : m_children) {
    if (child->m_name == name) return child;
  }
  return nullptr;
}

std::vector<ChunkNode::Ptr> ChunkNode::FindChildren(const std::string& name) const {
  std::vector<Ptr> found;
  for (const Ptr& child : m_children) {
    if (child->m_name == name) found.push_back(child);
  }
  return found;
}

void ChunkNode::CheckVersion() const {
  if (requiredVersion > kReaderVersion) {
    throw InvalidChunkVersionException("ChunkNode::CheckVersion (1)",
                                       "Invalid version: " + std::to_string(requiredVersion) +
                                           " required, " + std::to_string(kReaderVersion) +
                                           " given.");
  }
  if (version == 0) {
    throw InvalidChunkVersionException("ChunkNode::CheckVersion (2)",
                                       "Invalid version: " + std::to_string(kReaderVersion) +
                                           " required, 0 given.");
  }
}

void ChunkNode::WriteHeaderAndPayload(std::ostream& stream) const {
  Header header = MagicOnly(kChunkMagic);
  Put<std::uint64_t>(header, 8, level);
  Put<std::uint32_t>(header, 16, version);
  Put<std::uint32_t>(header, 20, requiredVersion);
  Put<std::uint64_t>(header, 32, m_name.size() + 1);
  Put<std::uint64_t>(header, 40, m_data.size());
  WriteHeader(stream, header);
  stream.write(m_name.c_str(), static_cast<std::streamsize>(m_name.size() + 1));
  stream.write(reinterpret_cast<const char*>(m_data.data()),
               static_cast<std::streamsize>(m_data.size()));
}

void ChunkNode::Save(std::ostream& stream) const {
  if (level == 0) WriteHeader(stream, MagicOnly(kFileMagic));
  // Depth-first pre-order without recursion.
  std::vector<const ChunkNode*> pending{this};
  while (!pending.empty()) {
    const ChunkNode* node = pending.back();
    pending.pop_back();
    node->WriteHeaderAndPayload(stream);
    for (auto it = node->m_children.rbegin(); it != node->m_children.rend(); ++it) {
      pending.push_back(it->get());
    }
  }
  if (level == 0) WriteHeader(stream, MagicOnly(kEndMagic));
}

bool ChunkNode::Save(const std::filesystem::path& path) const {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  Save(file);
  return true;
}

ChunkNode::Ptr ChunkNode::Load(std::istream& stream) {
  std::vector<Ptr> open;
  for (;;) {
    const Header header = ReadChunkHeader(stream);
    if (HasMagic(header, kEndMagic)) return open.empty() ? nullptr : open.front();
    if (!HasMagic(header, kChunkMagic)) continue;  // the file header

    std::vector<std::uint8_t> name;
    if (!ReadBytes(stream, Get<std::uint64_t>(header, 32), name)) {
      throw InvalidChunkFormatException("ChunkNode::ReadChunk", "Could not read name of chunk.");
    }
    if (!name.empty()) name.back() = 0;
    Ptr node = NewNode(name.empty() ? std::string() : reinterpret_cast<const char*>(name.data()));
    node->level = Get<std::uint64_t>(header, 8);
    node->version = Get<std::uint32_t>(header, 16);
    node->requiredVersion = Get<std::uint32_t>(header, 20);
    if (!ReadBytes(stream, Get<std::uint64_t>(header, 40), node->m_data) ||
        !SkipBytes(stream, Get<std::uint64_t>(header, 48)) ||
        !SkipBytes(stream, Get<std::uint64_t>(header, 56))) {
      throw InvalidChunkFormatException("ChunkNode::ReadChunk", "Could not read chunk data.");
    }

    if (!open.empty()) {
      while (!open.empty() && open.back()->level >= node->level) open.pop_back();
      if (open.empty()) {
        throw InvalidChunkFormatException("ChunkNode::Load",
                                          "Invalid level of chunk read from file.");
      }
      open.back()->m_children.push_back(node);
    }
    open.push_back(std::move(node));
  }
}

ChunkNode::Ptr ChunkNode::Load(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return nullptr;
  return Load(file);
}

std::size_t ChunkNode::CountChunks(std::istream& stream, std::uint64_t minLevel,
                                   std::uint64_t maxLevel) {
  std::size_t count = 0;
  for (;;) {
    Header header{};
    stream.read(reinterpret_cast<char*>(header.data()), kHeaderSize);
    if (static_cast<std::size_t>(stream.gcount()) != kHeaderSize) return count;
    const std::uint64_t chunkLevel = Get<std::uint64_t>(header, 8);
    if (HasMagic(header, kChunkMagic) && chunkLevel >= minLevel && chunkLevel <= maxLevel) ++count;
    for (std::size_t offset : {32, 40, 48, 56}) {
      if (!SkipBytes(stream, Get<std::uint64_t>(header, offset))) return count;
    }
  }
}

}  // namespace utils
