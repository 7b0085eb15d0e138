#pragma once
// Unit huff_tables.
// The Layer III Huffman code tables: 32 tables for pairs of spectral values
// (big values) and the two count1 tables for quadruples. Each table is kept as
// code words and lengths by value; decoding trees with a lookup table for
// their first eight bits are built from them once.
#include <cstdint>

namespace sdm {

struct THuffPairTable {
  int Size = 0;     // values per coordinate (x and y run 0..Size-1); 0 = no table
  int Linbits = 0;  // extra bits for a coordinate of 15
  int TreeId = -1;  // which decoding tree serves the table
};

// The 32 pair tables by table_select (tables 0, 4 and 14 are not used).
const THuffPairTable& HuffPairTable(int index);

// Decodes one pair with tree treeId from the next 32 bits of the stream
// (most significant first, zeros past its end) by table lookup: length
// receives the bits the code took, which the caller then skips. False for a
// code that is not in the table (the bitstream is damaged).
bool HuffDecodePairBits(int treeId, uint32_t bits, int& x, int& y, int& length);
// The same for one quadruple with count1 table A (quadB false) or B.
bool HuffDecodeQuadBits(bool quadB, uint32_t bits, int& v, int& w, int& x, int& y, int& length);
// Code word and length of a pair (exposed for tests that build bitstreams).
void HuffPairCode(int tableIndex, int x, int y, uint32_t& code, int& length);
// Code word and length of a count1 quadruple.
void HuffQuadCode(bool quadB, int v, int w, int x, int y, uint32_t& code, int& length);

}  // namespace sdm
