#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "foundation/utils/Exception.h"

namespace utils {

// One node of a chunk tree: a name, payload version information, a byte
// payload and ordered children. A tree is written depth-first into one
// stream; a level-0 node writes the file header before and the end marker
// after its tree. Payloads are raw little-endian memory images of values.
//
// Nodes are always held by shared ownership. Destroying and saving very deep
// trees uses no recursion, so trees read from untrusted files are safe.
class ChunkNode {
 public:
  using Ptr = std::shared_ptr<ChunkNode>;

  // The version of payload layouts this reader understands.
  static constexpr std::uint32_t kReaderVersion = 1;

  virtual ~ChunkNode();
  ChunkNode(const ChunkNode&) = delete;
  ChunkNode& operator=(const ChunkNode&) = delete;

  static Ptr NewNode(const std::string& name);
  Ptr NewChild(const std::string& name);
  // Appends node (null is ignored) and renumbers the levels of its subtree.
  void AddChild(const Ptr& node);

  std::string GetName() const { return m_name; }
  const std::vector<Ptr>& GetChildren() const { return m_children; }

  // The payload becomes a copy of size bytes; null or 0 gives an empty payload.
  void SetData(const void* data, std::size_t size);
  // Copies the payload into destination; does nothing when destination is
  // null; throws InvalidChunkSizeException when size differs from the payload.
  void GetData(void* destination, std::size_t size) const;
  const std::vector<std::uint8_t>& GetBytes() const { return m_data; }
  std::size_t GetDataSize() const { return m_data.size(); }

  // Strings are stored with their terminating NUL.
  void SetString(const std::string& text);
  // The payload without its NUL; a payload shorter than 2 bytes is "".
  std::string GetString() const;

  // Plain values and arrays of them (trivially copyable types only).
  template <typename T>
  void SetValue(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    SetData(&value, sizeof(T));
  }
  template <typename T>
  T GetValue() const {
    static_assert(std::is_trivially_copyable_v<T>);
    T value{};
    GetData(&value, sizeof(T));
    return value;
  }
  template <typename T>
  void SetArray(const std::vector<T>& values) {
    static_assert(std::is_trivially_copyable_v<T>);
    SetData(values.data(), values.size() * sizeof(T));
  }
  // Throws InvalidChunkSizeException when the payload is not a whole number of T.
  template <typename T>
  std::vector<T> GetArray() const {
    static_assert(std::is_trivially_copyable_v<T>);
    std::vector<T> values(m_data.size() / sizeof(T));
    if (values.size() * sizeof(T) != m_data.size()) ThrowSizeMismatch(values.size() * sizeof(T));
    GetData(values.data(), values.size() * sizeof(T));
    return values;
  }

  // The first child with that name; throws ChunkNotFoundException.
  Ptr Child(const std::string& name) const;
  // The first child with that name, or null.
  Ptr FindChild(const std::string& name) const;
  std::vector<Ptr> FindChildren(const std::string& name) const;

  // Throws InvalidChunkVersionException unless reader version 1 can read it.
  void CheckVersion() const;

  void Save(std::ostream& stream) const;
  // False when the file cannot be opened for writing.
  bool Save(const std::filesystem::path& path) const;

  // Reads one tree; throws the InvalidChunk... exceptions on corrupt input and
  // returns null when the stream holds an end marker before any chunk.
  static Ptr Load(std::istream& stream);
  // Null when the file cannot be opened.
  static Ptr Load(const std::filesystem::path& path);

  // Number of chunk headers with level in [minLevel, maxLevel], read until
  // the stream fails. Used to size progress displays before loading.
  static std::size_t CountChunks(std::istream& stream, std::uint64_t minLevel,
                                 std::uint64_t maxLevel);

  std::uint64_t level = 0;
  std::uint32_t version = 0;
  std::uint32_t requiredVersion = 0;

 protected:
  explicit ChunkNode(std::string name) : m_name(std::move(name)) {}

 private:
  [[noreturn]] void ThrowSizeMismatch(std::size_t size) const;
  void WriteHeaderAndPayload(std::ostream& stream) const;

  std::string m_name;
  std::vector<std::uint8_t> m_data;
  std::vector<Ptr> m_children;
};

}  // namespace utils
