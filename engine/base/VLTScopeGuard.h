// Scope guards for the engine: TVLTScopeExit runs a function on every path out of a scope (the
// undo of one call: an unlock, a flag reset), TVLTRestore puts a variable back to the value it
// had when the guard was made. Guards that own a resource have their own type (TVLTPageHandle,
// TVLTTableDataLatch).
//
// An undo that runs only when the scope fails, or that can itself raise (a page write, an index
// delete, a file unlock that reports), stays in a catch block: a guard's destructor runs while
// an exception unwinds and must not raise then, and it would also run on success.
#pragma once

#include <utility>

namespace vlt {

template <typename F>
class TVLTScopeExit {
 public:
  explicit TVLTScopeExit(F Fn) : FFn(std::move(Fn)) {}
  ~TVLTScopeExit() { FFn(); }
  TVLTScopeExit(const TVLTScopeExit&) = delete;
  TVLTScopeExit& operator=(const TVLTScopeExit&) = delete;

 private:
  F FFn;
};

template <typename T>
class TVLTRestore {
 public:
  explicit TVLTRestore(T& Ref) : FRef(Ref), FOld(Ref) {}
  ~TVLTRestore() { FRef = std::move(FOld); }
  TVLTRestore(const TVLTRestore&) = delete;
  TVLTRestore& operator=(const TVLTRestore&) = delete;

 private:
  T& FRef;
  T FOld;
};

}  // namespace vlt
