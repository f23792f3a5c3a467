// How both passes at once cut a picture into blocks of rows, and which rows
// each block reads and writes: the one contract between the frame driver
// (which makes the horizontal rows near block boundaries beforehand and
// hands the blocks to threads) and the engines' fused passes (which make a
// block's output rows in place).
//
// A block's output rows are the vertical pass over the horizontal pass's
// rows First - N .. End + N - 1 (within the picture). It reads the
// picture's rows only within itself: a horizontal row within N rows of a
// boundary between blocks (NearBoundary) belongs to two blocks, and one of
// them would already have overwritten the picture's row, so those rows come
// from the boundary rows the driver made beforehand. Every other horizontal
// row a block needs lies inside it and is read before the block overwrites
// it. So blocks may run at the same time and in any order, each writing
// only its own rows, and the frame is the same however they are grouped.
#pragma once

#include <cassert>

namespace lowpass {

class FusedBlocks {
public:
    // The most rows a block has; an engine sizes its per-row arrays by it.
    static constexpr int kMaxRows = 192;

    FusedBlocks() = default;

    // The cut of a picture h rows tall for kernel half-length n: about 128
    // rows per block (fewer blocks cost fewer horizontal rows made twice
    // and kept in memory; the rows of a block must fit the caches' address
    // translations), in an even number where the picture is taller than
    // 128 rows (so that two or four threads get equal shares), never more
    // than kMaxRows and always more than 2n (one block where the picture is
    // too short for two, at most 4n rows then).
    FusedBlocks(int h, int n) : h_(h), n_(n) {
        assert(h >= 1 && n >= 1);
        int count = (h + 128) / 256 * 2;
        if (count < 2) count = 2;
        rows_ = (h + count - 1) / count;
        if (rows_ <= 2 * n) rows_ = h;
        count_ = (h + rows_ - 1) / rows_;
        assert(rows_ <= kMaxRows && (count_ == 1 || rows_ > 2 * n));
    }

    int count() const { return count_; }
    int rows() const { return rows_; }
    int height() const { return h_; }
    int taps() const { return n_; }

    // The output rows of block b: First(b) .. End(b) - 1.
    int First(int block) const {
        assert(block >= 0 && block < count_);
        return block * rows_;
    }
    int End(int block) const {
        assert(block >= 0 && block < count_);
        const int end = (block + 1) * rows_;
        return end < h_ ? end : h_;
    }

    // The first horizontal row block b needs (N above its first row, within
    // the picture).
    int ReadFirst(int block) const {
        const int first = First(block) - n_;
        return first > 0 ? first : 0;
    }

    // Horizontal row t's place among block b's own rows, for an engine's
    // per-row arrays: 0 .. kMaxRows - 1 for a row the block computes from
    // the picture (one of its own, not near a boundary).
    int RowInBlock(int block, int t) const {
        const int index = t - First(block);
        assert(index >= 0 && index < rows_ && index < kMaxRows && !NearBoundary(t));
        return index;
    }

    // True when row t lies within N rows of a boundary between blocks:
    // b - N <= t < b + N for a block boundary b (0 < b < h). Blocks are
    // longer than 2N, so at most one boundary is near.
    bool NearBoundary(int t) const {
        const int b = (t + n_) / rows_ * rows_;  // the last boundary at or before t + N
        return b > 0 && b < h_ && t < b + n_;
    }

    // The rows near boundaries as one list that bands can share out: 2N
    // entries per boundary, boundary i's (1 .. count - 1) rows i * rows - N
    // .. i * rows + N - 1 as entries (i - 1) * 2N on. An entry's row may lie
    // below the picture (a last block shorter than N rows): it is skipped.
    int BoundaryEntries() const { return (count_ - 1) * 2 * n_; }
    int BoundaryRow(int entry) const {
        assert(entry >= 0 && entry < BoundaryEntries());
        const int boundary = (entry / (2 * n_) + 1) * rows_;
        return boundary - n_ + entry % (2 * n_);
    }
    // The first entry of the boundary after the one holding `entry`.
    int NextBoundaryEntry(int entry) const { return (entry / (2 * n_) + 1) * (2 * n_); }

private:
    int h_ = 0;
    int n_ = 0;
    int rows_ = 0;
    int count_ = 0;
};

}  // namespace lowpass
