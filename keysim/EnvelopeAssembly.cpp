#include "keysim/EnvelopeAssembly.h"

#include <algorithm>

#include "core/SecureBytes.h"

EnvelopeAssembly::~EnvelopeAssembly() { Drop(); }

bool EnvelopeAssembly::Add(const Bytes& piece) {
  if (collected_.size() + piece.size() > kLongestCommand) {
    Drop();
    return false;
  }
  // A growing buffer moves to a new block: the old one is wiped before it is given back.
  if (collected_.size() + piece.size() > collected_.capacity()) {
    Bytes grown;
    grown.reserve(std::max(2 * collected_.capacity(), collected_.size() + piece.size()));
    grown.assign(collected_.begin(), collected_.end());
    WipeBuffer(collected_);
    collected_.swap(grown);
  }
  collected_.insert(collected_.end(), piece.begin(), piece.end());
  return true;
}

const EnvelopeAssembly::Bytes& EnvelopeAssembly::Collected() const { return collected_; }

void EnvelopeAssembly::Drop() {
  WipeBuffer(collected_);
  collected_.shrink_to_fit();
}
