#pragma once

#include <QByteArray>

// The 132-byte blocks that carry the web page image to the unit: SOH, the block number, its
// complement, 128 data bytes (0xFF past the image's end) and the 8-bit sum of the data bytes.
// `blockCounter` counts blocks from 1 and never wraps: the data offset follows the counter,
// while the number on the wire is its low byte, so an image needing more than 255 blocks
// goes on past number 255 with 0, 1, ... and its data stays in order.

// The frame for block `blockCounter` of `image`. A counter below 1 gives a block of padding.
QByteArray BuildImageBlock(const QByteArray &image, int blockCounter);

// True when the block just sent was the last one: its end lies beyond the image. A size that
// is a whole multiple of 128 therefore ends with one block of padding only, and an empty image
// is sent as a single padding block.
bool IsFinalBlock(int blockCounterJustSent, int imageSize);

// Percentage shown after a block: the block's start offset as a share of the image, rounded
// down, so the first block shows 0. An empty image shows 100; counters outside the image are
// held to 0..100, the range of the bar.
int BlockProgress(int blockCounterJustSent, int imageSize);
