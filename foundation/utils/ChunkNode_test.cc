#include "foundation/utils/ChunkNode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

namespace utils {
namespace {

std::string SaveToString(const ChunkNode& node) {
  std::ostringstream out(std::ios::binary);
  node.Save(out);
  return out.str();
}

ChunkNode::Ptr LoadFromString(const std::string& bytes) {
  std::istringstream in(bytes, std::ios::binary);
  return ChunkNode::Load(in);
}

// A raw 64-byte chunk header as another writer might produce it.
std::string RawHeader(const char* magic, std::uint64_t level, std::uint64_t nameLength,
                      std::uint64_t dataSize, std::uint64_t ext1 = 0, std::uint64_t ext2 = 0) {
  std::string h(64, '\0');
  std::memcpy(h.data(), magic, 8);
  auto put = [&](std::size_t offset, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) h[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put(8, level);
  put(32, nameLength);
  put(40, dataSize);
  put(48, ext1);
  put(56, ext2);
  return h;
}

std::string RawChunk(std::uint64_t level, const std::string& name, const std::string& data = "") {
  return RawHeader("*CHUNK**", level, name.size() + 1, data.size()) + name + '\0' + data;
}

const std::string kFileHeader = RawHeader("*ZENTO**", 0, 0, 0);
const std::string kEnd = RawHeader("*EOF****", 0, 0, 0);

template <typename E>
void ExpectThrowWith(const std::string& bytes, const std::string& where, const std::string& message) {
  try {
    LoadFromString(bytes);
    FAIL() << "expected " << message;
  } catch (const E& e) {
    EXPECT_EQ(e.Where(), where);
    EXPECT_EQ(std::string(e.what()), message);
  }
}

TEST(ChunkNodeLayout, EmptyRootIs193Bytes) {
  const std::string bytes = SaveToString(*ChunkNode::NewNode(""));
  ASSERT_EQ(bytes.size(), 193u);
  EXPECT_EQ(bytes.substr(0, 8), "*ZENTO**");
  EXPECT_EQ(bytes.substr(8, 56), std::string(56, '\0'));
  EXPECT_EQ(bytes.substr(64, 8), "*CHUNK**");
  EXPECT_EQ(bytes[64 + 32], 1);  // name length counts the NUL
  EXPECT_EQ(bytes[128], '\0');
  EXPECT_EQ(bytes.substr(129, 8), "*EOF****");
}

TEST(ChunkNodeLayout, HeaderFieldsAreLittleEndianAtTheirOffsets) {
  auto root = ChunkNode::NewNode("geo");
  root->version = 0x01020304;
  root->requiredVersion = 7;
  const std::uint32_t payload = 0xAABBCCDD;
  root->SetValue(payload);
  const std::string b = SaveToString(*root);
  const std::string chunk = b.substr(64);
  EXPECT_EQ(static_cast<unsigned char>(chunk[16]), 0x04);
  EXPECT_EQ(static_cast<unsigned char>(chunk[19]), 0x01);
  EXPECT_EQ(chunk[20], 7);
  EXPECT_EQ(chunk[32], 4);  // "geo" + NUL
  EXPECT_EQ(chunk[40], 4);  // four payload bytes
  EXPECT_EQ(chunk.substr(64, 4), std::string("geo\0", 4));
  EXPECT_EQ(static_cast<unsigned char>(chunk[68]), 0xDD);
  EXPECT_EQ(b.size(), 64u + 64 + 4 + 4 + 64);
}

TEST(ChunkNodeLayout, SubtreeWithoutRootLevelHasNoFileHeaderOrEndMarker) {
  auto root = ChunkNode::NewNode("root");
  auto child = root->NewChild("child");
  const std::string bytes = SaveToString(*child);
  EXPECT_EQ(bytes.size(), 64u + 6);
  EXPECT_EQ(bytes.substr(0, 8), "*CHUNK**");
}

TEST(ChunkNodeRoundTrip, TreeWithPayloadsAndVersionsComesBackUnchanged) {
  auto root = ChunkNode::NewNode("zentomesh");
  root->version = 1;
  auto geo = root->NewChild("geo");
  geo->version = 3;
  geo->requiredVersion = 1;
  geo->NewChild("positions")->SetArray(std::vector<float>{1.5f, -2.0f, 3.25f});
  geo->NewChild("name")->SetString("scan 1");
  root->NewChild("texture")->SetData(nullptr, 0);

  auto back = LoadFromString(SaveToString(*root));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->GetName(), "zentomesh");
  EXPECT_EQ(back->version, 1u);
  ASSERT_EQ(back->GetChildren().size(), 2u);
  auto g = back->Child("geo");
  EXPECT_EQ(g->level, 1u);
  EXPECT_EQ(g->version, 3u);
  EXPECT_EQ(g->requiredVersion, 1u);
  EXPECT_EQ(g->Child("positions")->GetArray<float>(), (std::vector<float>{1.5f, -2.0f, 3.25f}));
  EXPECT_EQ(g->Child("positions")->level, 2u);
  EXPECT_EQ(g->Child("name")->GetString(), "scan 1");
  EXPECT_EQ(back->Child("texture")->GetDataSize(), 0u);
  EXPECT_EQ(SaveToString(*back), SaveToString(*root));
}

TEST(ChunkNodeRoundTrip, FileFormsAndUnopenablePaths) {
  auto root = ChunkNode::NewNode("a");
  root->NewChild("b")->SetValue(42.0);
  const auto path = std::filesystem::temp_directory_path() / "chunknode_test.bin";
  ASSERT_TRUE(root->Save(path));
  auto back = ChunkNode::Load(path);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Child("b")->GetValue<double>(), 42.0);
  std::filesystem::remove(path);
  EXPECT_EQ(ChunkNode::Load(std::filesystem::path("/nonexistent/dir/x.bin")), nullptr);
  EXPECT_FALSE(root->Save(std::filesystem::path("/nonexistent/dir/x.bin")));
}

TEST(ChunkNodeRoundTrip, VeryDeepTreeSavesLoadsAndDestroysWithoutRecursion) {
  auto root = ChunkNode::NewNode("r");
  ChunkNode::Ptr node = root;
  for (int i = 0; i < 200000; ++i) node = node->NewChild("d");
  node.reset();
  auto back = LoadFromString(SaveToString(*root));
  ASSERT_TRUE(back);
  std::size_t depth = 0;
  for (auto n = back; !n->GetChildren().empty(); n = n->GetChildren().front()) ++depth;
  EXPECT_EQ(depth, 200000u);
}

TEST(ChunkNodeReading, LevelsAreKeptAsReadAndDecideTheParent) {
  // root(0) → a(1) → b(5); then c(1) pops back to the root.
  const std::string bytes =
      kFileHeader + RawChunk(0, "root") + RawChunk(1, "a") + RawChunk(5, "b") + RawChunk(1, "c") + kEnd;
  auto root = LoadFromString(bytes);
  ASSERT_TRUE(root);
  ASSERT_EQ(root->GetChildren().size(), 2u);
  auto b = root->Child("a")->Child("b");
  EXPECT_EQ(b->level, 5u);
  EXPECT_TRUE(root->Child("c")->GetChildren().empty());
}

TEST(ChunkNodeReading, SecondChunkAtLevelZeroIsInvalid) {
  ExpectThrowWith<InvalidChunkFormatException>(kFileHeader + RawChunk(0, "a") + RawChunk(0, "b") + kEnd,
                                               "ChunkNode::Load", "Invalid level of chunk read from file.");
}

TEST(ChunkNodeReading, ExtensionAreasOfOtherWritersAreSkipped) {
  std::string chunk = RawHeader("*CHUNK**", 1, 2, 3, 5, 2) + "x" + '\0' + "abc" + "EEEEE" + "FF";
  auto root = LoadFromString(kFileHeader + RawChunk(0, "root") + chunk + RawChunk(1, "y") + kEnd);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->Child("x")->GetDataSize(), 3u);
  EXPECT_TRUE(root->FindChild("y"));
}

TEST(ChunkNodeReading, NameIsForcedToEndInNulAndEmptyNameIsAllowed) {
  std::string noNul = RawHeader("*CHUNK**", 1, 3, 0) + "abc";
  std::string noName = RawHeader("*CHUNK**", 1, 0, 0);
  auto root = LoadFromString(kFileHeader + RawChunk(0, "r") + noNul + noName + kEnd);
  ASSERT_TRUE(root);
  ASSERT_EQ(root->GetChildren().size(), 2u);
  EXPECT_EQ(root->GetChildren()[0]->GetName(), "ab");
  EXPECT_EQ(root->GetChildren()[1]->GetName(), "");
}

TEST(ChunkNodeReading, EndMarkerBeforeAnyChunkGivesNull) {
  EXPECT_EQ(LoadFromString(kFileHeader + kEnd), nullptr);
}

TEST(ChunkNodeCorruptInput, TruncatedStreamsFailWithTheRightStep) {
  auto root = ChunkNode::NewNode("root");
  root->NewChild("payload")->SetString("some bytes of payload");
  const std::string good = SaveToString(*root);
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_THROW(LoadFromString(good.substr(0, cut)), InvalidChunkFormatException) << "cut " << cut;
  }
  ExpectThrowWith<InvalidChunkFormatException>(good.substr(0, 64 + 64 + 2), "ChunkNode::ReadChunk",
                                               "Could not read name of chunk.");
  ExpectThrowWith<InvalidChunkFormatException>(good.substr(0, 64 + 69 + 64 + 8 + 3), "ChunkNode::ReadChunk",
                                               "Could not read chunk data.");
  ExpectThrowWith<InvalidChunkFormatException>(good.substr(0, good.size() - 64), "ChunkNode::ReadChunkHeader",
                                               "Invalid chunk header.");
}

TEST(ChunkNodeCorruptInput, HugeClaimedSizesFailWithoutAllocating) {
  const std::uint64_t huge = std::uint64_t{1} << 60;
  ExpectThrowWith<InvalidChunkFormatException>(kFileHeader + RawHeader("*CHUNK**", 0, huge, 0) + "abc",
                                               "ChunkNode::ReadChunk", "Could not read name of chunk.");
  ExpectThrowWith<InvalidChunkFormatException>(kFileHeader + RawHeader("*CHUNK**", 0, 2, huge) + std::string("a\0", 2),
                                               "ChunkNode::ReadChunk", "Could not read chunk data.");
  ExpectThrowWith<InvalidChunkFormatException>(kFileHeader + RawHeader("*CHUNK**", 0, 2, 0, ~0ull, ~0ull) + std::string("a\0", 2),
                                               "ChunkNode::ReadChunk", "Could not read chunk data.");
}

TEST(ChunkNodeCorruptInput, GarbageMagicIsSkippedUntilTheStreamEnds) {
  ExpectThrowWith<InvalidChunkFormatException>(std::string(64 * 3, 'x') + std::string(10, 'y'),
                                               "ChunkNode::ReadChunkHeader", "Invalid chunk header.");
}

TEST(ChunkNodeData, GetDataChecksSizeOnlyWithADestination) {
  auto node = ChunkNode::NewNode("n");
  EXPECT_NO_THROW(node->GetData(nullptr, 0));
  EXPECT_NO_THROW(node->GetData(nullptr, 17));
  node->SetValue<std::int32_t>(5);
  double wrong = 0;
  try {
    node->GetData(&wrong, sizeof(wrong));
    FAIL();
  } catch (const InvalidChunkSizeException& e) {
    EXPECT_EQ(e.Where(), "ChunkNode::GetData");
    EXPECT_STREQ(e.what(), "Invalid chunk data size of node n: 4 requested, 8 required");
  }
  EXPECT_THROW(node->GetArray<double>(), InvalidChunkSizeException);
}

TEST(ChunkNodeData, StringsOfShortPayloads) {
  auto node = ChunkNode::NewNode("s");
  EXPECT_EQ(node->GetString(), "");
  node->SetData("", 1);
  EXPECT_EQ(node->GetString(), "");
  node->SetData("x", 1);  // a single byte is not a string
  EXPECT_EQ(node->GetString(), "");
  node->SetString("hello");
  EXPECT_EQ(node->GetDataSize(), 6u);
  EXPECT_EQ(node->GetString(), "hello");
}

TEST(ChunkNodeTree, ChildFindChildAndFindChildrenKeepOrder) {
  auto root = ChunkNode::NewNode("r");
  root->NewChild("mesh")->SetValue(1);
  root->NewChild("other");
  root->NewChild("mesh")->SetValue(2);
  EXPECT_EQ(root->Child("mesh")->GetValue<int>(), 1);
  auto all = root->FindChildren("mesh");
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[1]->GetValue<int>(), 2);
  EXPECT_EQ(root->FindChild("none"), nullptr);
  try {
    root->Child("none");
    FAIL();
  } catch (const ChunkNotFoundException& e) {
    EXPECT_EQ(e.Where(), "ChunkNode::Child");
    EXPECT_STREQ(e.what(), "Chunk not found: none");
  }
}

TEST(ChunkNodeTree, AddChildRenumbersTheWholeSubtree) {
  auto sub = ChunkNode::NewNode("sub");
  sub->NewChild("a")->NewChild("b");
  auto root = ChunkNode::NewNode("root");
  root->NewChild("x")->AddChild(sub);
  root->AddChild(nullptr);
  EXPECT_EQ(sub->level, 2u);
  EXPECT_EQ(sub->Child("a")->level, 3u);
  EXPECT_EQ(sub->Child("a")->Child("b")->level, 4u);
  EXPECT_EQ(root->GetChildren().size(), 1u);
}

TEST(ChunkNodeVersion, ReaderVersionOneRules) {
  auto node = ChunkNode::NewNode("v");
  node->version = 1;
  EXPECT_NO_THROW(node->CheckVersion());
  node->requiredVersion = 1;
  EXPECT_NO_THROW(node->CheckVersion());
  node->requiredVersion = 2;
  try {
    node->CheckVersion();
    FAIL();
  } catch (const InvalidChunkVersionException& e) {
    EXPECT_EQ(e.Where(), "ChunkNode::CheckVersion (1)");
    EXPECT_STREQ(e.what(), "Invalid version: 2 required, 1 given.");
  }
  node->requiredVersion = 0;
  node->version = 0;
  try {
    node->CheckVersion();
    FAIL();
  } catch (const InvalidChunkVersionException& e) {
    EXPECT_EQ(e.Where(), "ChunkNode::CheckVersion (2)");
    EXPECT_STREQ(e.what(), "Invalid version: 1 required, 0 given.");
  }
}

TEST(ChunkNodeCount, CountsChunksWithinLevelBounds) {
  auto root = ChunkNode::NewNode("r");
  auto a = root->NewChild("a");
  a->SetString("payload");
  a->NewChild("a1");
  a->NewChild("a2");
  root->NewChild("b");
  const std::string bytes = SaveToString(*root);
  std::istringstream all(bytes);
  EXPECT_EQ(ChunkNode::CountChunks(all, 0, 100), 5u);
  std::istringstream firstLevel(bytes);
  EXPECT_EQ(ChunkNode::CountChunks(firstLevel, 1, 1), 2u);
  std::istringstream truncated(bytes.substr(0, 64 + 64 + 2 + 64 + 3));
  EXPECT_EQ(ChunkNode::CountChunks(truncated, 0, 100), 2u);
}

}  // namespace
}  // namespace utils
