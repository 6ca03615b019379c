// Rebuilding lost and damaged files of a division from its recovery data,
// and what happens when the recovery data itself is lost, damaged, foreign
// or hostile.

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <random>

#include "engine/file_layer.h"
#include "engine/recovery/md5_lanes.h"
#include "engine/recovery/par2_layout.h"
#include "engine/recovery/par2_packets.h"
#include "engine/recovery/par2_repair.h"
#include "engine/recovery/par2_set.h"
#include "engine/recovery/slice_checksums.h"
#include "recovery_support.h"
#include "test_support.h"

namespace morvane_test {
namespace {

using morvane::Par2Set;

struct Damage {
    const char* label;
    int32_t chunks;
    int32_t recovery;
    // Done to the set's folder after the division.
    std::function<void(const TempDir&)> harm;
    // Names handed to the rebuild as lost.
    std::vector<std::string> lost;
    // "" when the rebuild must succeed, else a part of the expected error.
    std::string error;
};

void PrintTo(const Damage& d, std::ostream* os) {
    *os << d.label;
}

void removeFile(const TempDir& dir, const std::string& name) {
    ASSERT_EQ(::unlink(dir.file(name).c_str()), 0) << name;
}

void flipByte(const TempDir& dir, const std::string& name, int64_t at) {
    Bytes bytes = readFile(dir.file(name));
    bytes[std::size_t(at < 0 ? int64_t(bytes.size()) + at : at)] ^= 0x10;
    writeFile(dir.file(name), bytes);
}

void truncateTo(const TempDir& dir, const std::string& name, std::size_t size) {
    writeFile(dir.file(name), readFile(dir.file(name)).substr(0, size));
}

class RecoveryDamageTest : public ::testing::TestWithParam<Damage> {};

// The slices' CRC-32 against zlib's: every length to 4 KiB at every start
// modulo 16, then random pieces continuing one CRC.
TEST(SliceCrcTest, MatchesZlib) {
    const Bytes data = randomBytes(1 << 20, 11);
    const auto zlibCrc = [&](uLong crc, std::size_t at, std::size_t n) {
        return uint32_t(crc32_z(crc, reinterpret_cast<const Bytef*>(data.data() + at), n));
    };
    for (std::size_t n = 0; n <= 4096; ++n) {
        ASSERT_EQ(morvane::crc32Of(0, data.data() + n % 16, n), zlibCrc(0, n % 16, n)) << n;
    }
    std::mt19937_64 random(5);
    uint32_t ours = 0, theirs = 0;
    for (int i = 0; i < 300; ++i) {
        const std::size_t at = random() % 4096, n = random() % (data.size() - at);
        ours = morvane::crc32Of(ours, data.data() + at, n);
        theirs = zlibCrc(theirs, at, n);
        ASSERT_EQ(ours, theirs) << i;
    }
}

// The lane MD5 against OpenSSL's, with each kernel the processor has: 16
// streams at once of lengths base..base + 15 for every length to 4 KiB, each
// fed in two cuts at its own start modulo 16.
TEST(SliceMd5Test, LanesMatchOpenssl) {
    const Bytes data = randomBytes(8192, 12);
    for (std::size_t most : {std::size_t{1}, std::size_t{8}, std::size_t{16}}) {
        if (most > morvane::Md5Lane::width()) continue;
        for (std::size_t base = 0; base <= 4096; base += 16) {
            morvane::Md5Lane lanes[16];
            morvane::Md5Lane* ptrs[16];
            const char* heads[16];
            const char* rests[16];
            std::size_t cuts[16], restSizes[16];
            for (std::size_t i = 0; i < 16; ++i) {
                const std::size_t n = base + i;
                ptrs[i] = &lanes[i];
                heads[i] = data.data() + n % 16;
                cuts[i] = std::min(n, n % 97);
                rests[i] = heads[i] + cuts[i];
                restSizes[i] = n - cuts[i];
            }
            morvane::Md5Lane::updateMany(ptrs, heads, cuts, 16, most);
            morvane::Md5Lane::updateMany(ptrs, rests, restSizes, 16, most);
            for (std::size_t i = 0; i < 16; ++i) {
                morvane::Md5Digest theirs{};
                ASSERT_TRUE(morvane::md5Of(heads[i], base + i, &theirs));
                ASSERT_EQ(lanes[i].finish(), theirs) << most << " lanes, " << base + i << " bytes";
            }
        }
    }
}

TEST_P(RecoveryDamageTest, RebuildsWhatTheDataCovers) {
    const Damage& d = GetParam();
    TempDir work, set;
    constexpr int32_t kChunk = 4099;
    const Bytes content = randomBytes(
        std::size_t(kChunk) * (d.chunks - 1) + (d.chunks > 1 ? 100 : kChunk), uint64_t(d.chunks));
    divideInto(work.path(), set.path(), "dm", content, kChunk);
    const morvane::Status made =
        protectDivision(set.path(), "dm", work.file("original.dat"), d.recovery, 1000);
    ASSERT_TRUE(made.ok()) << made.text();

    std::vector<std::pair<std::string, Bytes>> originals;
    for (const std::string& name : d.lost) {
        if (fileExists(set.file(name))) originals.emplace_back(name, readFile(set.file(name)));
    }
    d.harm(set);

    morvane::FileLayer layer;
    Par2Set par2;
    ASSERT_TRUE(par2.read(layer, set.folder(), "dm").ok());
    std::string why;
    const bool can = morvane::canRebuild(par2, d.lost, &why);
    std::atomic<int64_t> counted{0};
    const morvane::Status s = morvane::rebuildFiles(
        layer, par2, set.folder(), d.lost,
        [&](const std::string& name, std::unique_ptr<morvane::File>* out) {
            return layer.openReadWrite(set.folder() + name, out);
        },
        nullptr, nullptr, nullptr, &counted);
    if (d.error.empty()) {
        EXPECT_TRUE(can) << why;
        ASSERT_TRUE(s.ok()) << s.text();
        EXPECT_EQ(counted.load(), morvane::rebuildWork(par2, d.lost));
        for (const auto& [name, bytes] : originals) EXPECT_EQ(readFile(set.file(name)), bytes);
        EXPECT_EQ(
            runCommand("cd " + set.path() + " && sha256sum -c --quiet --ignore-missing dm.sha256"),
            "exit 0:");
    } else {
        EXPECT_FALSE(s.ok());
        EXPECT_NE((s.text() + "|" + why).find(d.error), std::string::npos)
            << s.text() << " | " << why;
    }
}

auto none = [](const TempDir&) {};

INSTANTIATE_TEST_SUITE_P(
    Table, RecoveryDamageTest,
    ::testing::Values(
        Damage{"one chunk missing",
               3,
               1,
               [](const TempDir& d) { removeFile(d, "dm_2.div"); },
               {"dm_2.div"},
               ""},
        Damage{"chunk and checksum file missing",
               4,
               2,
               [](const TempDir& d) {
                   removeFile(d, "dm_1.div");
                   removeFile(d, "dm.sha256");
               },
               {"dm_1.div", "dm.sha256"},
               ""},
        Damage{"damaged chunk",
               2,
               1,
               [](const TempDir& d) { flipByte(d, "dm_2.div", 5); },
               {"dm_2.div"},
               ""},
        Damage{
            "header lost", 2, 1, [](const TempDir& d) { removeFile(d, "dm.hed"); }, {"dm.hed"}, ""},
        Damage{"one chunk, both lost files",
               1,
               3,
               [](const TempDir& d) {
                   removeFile(d, "dm_1.div");
                   removeFile(d, "dm.hed");
               },
               {"dm_1.div", "dm.hed"},
               ""},
        Damage{"more lost than covered",
               5,
               1,
               [](const TempDir& d) {
                   removeFile(d, "dm_1.div");
                   removeFile(d, "dm_3.div");
               },
               {"dm_1.div", "dm_3.div"},
               "Missing or damaged: dm_1.div, dm_3.div (2 recovery slices needed); the recovery "
               "data holds 1"},
        Damage{"description file missing",
               3,
               2,
               [](const TempDir& d) {
                   removeFile(d, "dm.par2");
                   removeFile(d, "dm_3.div");
               },
               {"dm_3.div"},
               ""},
        Damage{"volume truncated",
               3,
               2,
               [](const TempDir& d) {
                   truncateTo(d, "dm.vol1+1.par2", 3000);
                   removeFile(d, "dm_3.div");
               },
               {"dm_3.div"},
               ""},
        Damage{"volume truncated, two lost",
               3,
               2,
               [](const TempDir& d) {
                   truncateTo(d, "dm.vol1+1.par2", 3000);
                   removeFile(d, "dm_1.div");
                   removeFile(d, "dm_3.div");
               },
               {"dm_1.div", "dm_3.div"},
               "the recovery data holds 1"},
        Damage{"recovery slice damaged, another one left",
               3,
               2,
               [](const TempDir& d) {
                   flipByte(d, "dm.vol0+1.par2", 500);
                   removeFile(d, "dm_2.div");
               },
               {"dm_2.div"},
               ""},
        Damage{"recovery slice damaged, none left",
               3,
               1,
               [](const TempDir& d) {
                   flipByte(d, "dm.vol0+1.par2", 500);
                   removeFile(d, "dm_2.div");
               },
               {"dm_2.div"},
               "too few intact recovery slices"},
        Damage{"no recovery files",
               2,
               1,
               [](const TempDir& d) {
                   removeFile(d, "dm.par2");
                   removeFile(d, "dm.vol0+1.par2");
               },
               {"dm_1.div"},
               "No recovery data"},
        Damage{"an undeclared damaged chunk",
               3,
               1,
               [](const TempDir& d) {
                   removeFile(d, "dm_1.div");
                   flipByte(d, "dm_2.div", -1);
               },
               {"dm_1.div"},
               "File damaged: dm_2.div"},
        Damage{
            "a file the set does not have", 2, 1, none, {"dm_3.div"}, "does not protect dm_3.div"},
        Damage{"9,999 chunks",
               9999,
               2,
               [](const TempDir& d) {
                   removeFile(d, "dm_1.div");
                   removeFile(d, "dm_9999.div");
               },
               {"dm_1.div", "dm_9999.div"},
               ""}));

}  // namespace
}  // namespace morvane_test

namespace morvane_test {
namespace {

using morvane::Md5Digest;
using morvane::Par2FileInfo;
using Packets = std::vector<std::vector<char>>;

Par2FileInfo describedFile(const std::string& name, uint64_t length, unsigned char hashByte) {
    Par2FileInfo f;
    f.name = name;
    f.length = length;
    f.hash.fill(hashByte);
    f.id = morvane::fileIdOf(f.hash16k, f.length, f.name);
    return f;
}

// A main packet for `files` and their descriptions, under the set ID the main packet gives.
Packets describedSet(uint64_t sliceSize, const std::vector<Par2FileInfo>& files, Md5Digest* setId) {
    std::vector<Md5Digest> ids;
    for (const Par2FileInfo& f : files) ids.push_back(f.id);
    std::sort(ids.begin(), ids.end(), morvane::fileIdLess);
    const std::vector<char> body = morvane::mainPacketBody(sliceSize, ids);
    morvane::md5Of(body.data(), body.size(), setId);
    Packets packets{morvane::makePacket(morvane::kMainPacket, *setId, body)};
    for (const Par2FileInfo& f : files) {
        packets.push_back(morvane::makePacket(morvane::kFileDescriptionPacket, *setId,
                                              morvane::fileDescriptionBody(f)));
    }
    return packets;
}

std::vector<char> recoveryPacket(const Md5Digest& setId, uint32_t exponent, std::size_t bytes,
                                 char fill) {
    std::vector<char> body(4 + bytes, fill);
    morvane::putLe32(body.data(), exponent);
    return morvane::makePacket(morvane::kRecoverySlicePacket, setId, body);
}

struct Hostile {
    const char* label;
    std::function<Packets()> packets;
    // A part of problem() or, for a usable set, of canRebuild's reason for "h_1.div".
    std::string refusal;
};

void PrintTo(const Hostile& h, std::ostream* os) {
    *os << h.label;
}

class HostileRecoveryTest : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileRecoveryTest, IsRefusedWithoutReadingWhatItClaims) {
    TempDir set;
    Bytes file;
    for (const std::vector<char>& p : GetParam().packets()) file.append(p.data(), p.size());
    writeFile(set.file("h.par2"), file);
    morvane::FileLayer layer;
    Par2Set par2;
    ASSERT_TRUE(par2.read(layer, set.folder(), "h").ok());
    EXPECT_LE(par2.bytesHashed(), 3 * file.size()) << "bytes hashed";
    std::string why;
    EXPECT_FALSE(morvane::canRebuild(par2, {"h_1.div"}, &why));
    EXPECT_NE(why.find(GetParam().refusal), std::string::npos) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileRecoveryTest,
    ::testing::Values(
        Hostile{"packet length that overflows",
                [] {
                    Md5Digest id{};
                    Packets p = describedSet(8, {describedFile("h_1.div", 8, 1)}, &id);
                    morvane::putLe64(p[0].data() + 8, ~uint64_t{3});
                    return p;
                },
                "no intact main packet"},
        Hostile{"slice size of a terabyte",
                [] {
                    Md5Digest id{};
                    Packets p = describedSet(uint64_t{1} << 40,
                                             {describedFile("h_1.div", uint64_t{1} << 40, 1)}, &id);
                    std::vector<char> slice = recoveryPacket(id, 0, 64, 'x');
                    morvane::putLe64(slice.data() + 8, (uint64_t{1} << 40) + 68);
                    p.push_back(slice);
                    return p;
                },
                "the recovery data holds 0"},
        Hostile{"billions of files",
                [] {
                    Md5Digest id{};
                    Packets p = describedSet(8, {describedFile("h_1.div", 8, 1)}, &id);
                    std::vector<char> body(p[0].begin() + 64, p[0].end());
                    morvane::putLe32(body.data() + 8, 0xFFFFFFFFu);
                    morvane::md5Of(body.data(), body.size(), &id);
                    p[0] = morvane::makePacket(morvane::kMainPacket, id, body);
                    return p;
                },
                "no intact main packet"},
        Hostile{"billions of slices",
                [] {
                    Md5Digest id{};
                    return describedSet(4, {describedFile("h_1.div", uint64_t{1} << 40, 1)}, &id);
                },
                "more slices than the format allows"},
        Hostile{"repeated packets",
                [] {
                    Md5Digest id{};
                    Packets p = describedSet(8, {describedFile("h_1.div", 8, 1)}, &id);
                    p.push_back(p[1]);
                    p.push_back(p[0]);
                    return p;
                },
                "the recovery data holds 0"},
        Hostile{"descriptions that contradict each other",
                [] {
                    Md5Digest id{};
                    Packets p = describedSet(8, {describedFile("h_1.div", 8, 1)}, &id);
                    p.push_back(morvane::makePacket(
                        morvane::kFileDescriptionPacket, id,
                        morvane::fileDescriptionBody(describedFile("h_1.div", 8, 2))));
                    return p;
                },
                "contradicts itself"},
        Hostile{"recovery slices that contradict each other",
                [] {
                    Md5Digest id{};
                    Packets p = describedSet(8, {describedFile("h_1.div", 8, 1)}, &id);
                    p.push_back(recoveryPacket(id, 0, 8, 'a'));
                    p.push_back(recoveryPacket(id, 0, 8, 'b'));
                    return p;
                },
                "contradicts itself"},
        Hostile{"a packet header every 64 bytes, each claiming 1 MiB",
                [] {
                    Md5Digest id{};
                    Packets p = describedSet(8, {describedFile("h_1.div", 8, 1)}, &id);
                    std::vector<char> fake = morvane::makePacket(morvane::kMainPacket, id, {});
                    morvane::putLe64(fake.data() + 8, 1 << 20);
                    p.insert(p.begin(), 1 << 15, fake);
                    return p;
                },
                "the recovery data holds 0"},
        Hostile{"a description missing",
                [] {
                    Md5Digest id{};
                    Packets p = describedSet(
                        8, {describedFile("h_1.div", 8, 1), describedFile("h.hed", 8, 1)}, &id);
                    p.pop_back();
                    return p;
                },
                "lacks the description"}));

}  // namespace
}  // namespace morvane_test
