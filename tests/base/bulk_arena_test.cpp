#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/bulk_memory.h"

namespace qern {
namespace {

// Pieces come zeroed and apart from each other, one after the other while
// the arena has room; a piece that does not fit is a bulk allocation of its
// own, as usable. Writing every piece to its end and
// freeing them before the arena is what the sanitizer build checks.
TEST(BulkArena, HandsOutZeroedDisjointPiecesThenFallsBack) {
    constexpr std::size_t ROOM = std::size_t{2} << 20;
    BulkArena arena(ROOM);
    EXPECT_EQ(arena.used(), 0u);
    std::vector<BulkDoubles> pieces;
    const std::size_t counts[] = {3, 8192, 100000, 1, 200000, 50000};
    for (const std::size_t count : counts) {
        BulkDoubles piece = arena.take_zeroed(count);
        ASSERT_TRUE(piece) << count;
        for (std::size_t i = 0; i < count; ++i) {
            ASSERT_EQ(piece[i], 0.0) << count << " " << i;
            piece[i] = static_cast<double>(pieces.size() + 1);
        }
        pieces.push_back(std::move(piece));
    }
#if defined(__linux__)
    // Pieces of the arena start on 64 bytes (elsewhere they come from the
    // heap, aligned as it aligns).
    for (std::size_t k : {0u, 1u, 2u, 3u, 5u}) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pieces[k].get()) % 64, 0u) << counts[k];
    }
    // 3 + 8192 + 100000 + 1 doubles fit the 2 MiB; 200000 more do not and
    // come from elsewhere; the 50000 after them fit again. (Elsewhere every
    // piece is an allocation of its own.)
    EXPECT_LE(arena.used(), ROOM);
    EXPECT_GE(arena.used(), (3 + 8192 + 100000 + 1 + 50000) * sizeof(double));
#endif
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        for (std::size_t i = 0; i < counts[k]; ++i) {
            ASSERT_EQ(pieces[k][i], static_cast<double>(k + 1)) << k << " " << i;
        }
    }
}

// The huge part of an arena is whole 2 MiB pages within its room, and it
// starts the arena on a 2 MiB boundary; pieces whose pages come on touch
// read zero as well, in the huge part and after it.
TEST(BulkArena, HugePartIsWholeHugePagesAtTheStart) {
    EXPECT_EQ(BulkArena(5 << 20, 3 << 20).huge_bytes(), HUGE_PAGE_BYTES);
    EXPECT_EQ(BulkArena(5 << 20, 8 << 20).huge_bytes(), 2 * HUGE_PAGE_BYTES);
    EXPECT_EQ(BulkArena(1 << 20, 2 << 20).huge_bytes(), 0u);
    EXPECT_EQ(BulkArena(8 << 20).huge_bytes(), 0u);

    BulkArena arena(6 << 20, 4 << 20);
    const std::size_t counts[] = {300000, 1000, 400000, 70000};
    std::vector<BulkDoubles> pieces;
    for (const std::size_t count : counts) {
        const Presence presence = pieces.size() % 2 == 0 ? Presence::on_touch : Presence::now;
        BulkDoubles piece = arena.take_zeroed(count, presence);
        ASSERT_TRUE(piece) << count;
        for (std::size_t i = 0; i < count; i += 97) ASSERT_EQ(piece[i], 0.0) << count << " " << i;
        ASSERT_EQ(piece[count - 1], 0.0);
        piece[0] = piece[count - 1] = static_cast<double>(count);
        pieces.push_back(std::move(piece));
    }
#if defined(__linux__)
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pieces[0].get()) % HUGE_PAGE_BYTES, 0u);
    EXPECT_GE(arena.used(), (300000 + 1000 + 400000 + 70000) * sizeof(double));
#endif
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        EXPECT_EQ(pieces[k][0], static_cast<double>(counts[k]));
        EXPECT_EQ(pieces[k][counts[k] - 1], static_cast<double>(counts[k]));
    }
    BulkDoubles later = allocate_bulk_zeroed(200000, Presence::on_touch);
    ASSERT_TRUE(later);
    EXPECT_EQ(later[199999], 0.0);
}

// Heap memory made present keeps what it holds, at any alignment and size,
// and stays writable throughout.
TEST(MakePresent, KeepsTheContentsOfMemoryAlreadyWritten) {
    for (const std::size_t count : {std::size_t{10}, std::size_t{9000}, std::size_t{300001}}) {
        std::vector<double> values(count);
        for (std::size_t i = 0; i < count; ++i) values[i] = static_cast<double>(i) + 0.5;
        make_present(values.data() + 1, (count - 1) * sizeof(double));
        for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(values[i], static_cast<double>(i) + 0.5) << count << " " << i;
        values.back() = -1.0;
        EXPECT_EQ(values.back(), -1.0);
    }
    make_present(nullptr, 1 << 20);
}

}  // namespace
}  // namespace qern
