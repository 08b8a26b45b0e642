// ForEachOrdered(From): work on N inputs (or a stream of them) with up to W
// threads, results handed on in input order. velitems reads files this way: each file is read by whichever
// worker is free, and its output is printed as soon as it and every file
// before it are done, so `read -j N` prints what `read` prints.
//
// Thread safety: produce runs on the workers at the same time (it must be safe
// for that); emit calls never overlap (they run under one lock) and come in
// index order 0, 1, 2, ...; startWorker runs once on each worker before its
// first produce.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace vel::cli {

// Never sets an input aside (see ForEachOrderedFrom).
struct NoSettingAside {
  template <class Input>
  bool SetAside(const Input&) const {
    return false;
  }
  std::uint64_t Changes() const { return 0; }
};

// Takes inputs from next(input) (false: no more; one call at a time) while
// workers call produce(input, i), and calls emit(i, input, result) in input
// order (one call at a time). Only inputs handed out and not yet emitted are
// held, at most maxHeld of them (a worker that finds that many waits for the
// first to be emitted instead of taking more), so a stream of any length costs
// the same memory, however long one input takes. With fewer than two
// threads everything runs on the calling thread. Neither next nor emit holds
// up the workers' hand-over: each has a lock of its own, and whichever worker
// finds results ready emits them while the others go on.
//
// aside.SetAside(input) true: producing input now would only wait (velitems
// read: its kind's libraries are still being loaded on another thread), so
// it is set aside and later inputs are taken meanwhile; its result still
// comes out in its place. A set-aside input is taken once SetAside answers
// false for it (asked again only after aside.Changes() has moved), once no
// input is left, or once maxHeld inputs are held. SetAside and Changes are
// called one at a time.
template <class Input, class Result, class Next, class Aside, class StartWorker, class Produce, class Emit>
void ForEachOrderedFrom(Next&& next, Aside&& aside, std::size_t maxHeld, std::size_t threads, StartWorker&& startWorker,
                        Produce&& produce, Emit&& emit) {
  struct Slot {
    Input input;
    std::optional<Result> result;
  };
  struct SetAsideSlot {
    Slot* slot;
    std::size_t index;
  };
  std::mutex inputLock;             // next, the set-aside inputs, and the order in which inputs join the window
  std::mutex lock;                  // the window
  std::condition_variable emitted;  // under lock: the window has lost its first slot
  std::size_t waitingForRoom = 0;   // under lock
  std::deque<Slot> window;          // handed out, not yet emitted; references survive push_back and pop_front
  std::size_t firstIndex = 0;
  std::size_t handedOut = 0;
  bool ended = false;
  bool emitting = false;              // a worker is emitting: the others leave it to that one
  std::deque<SetAsideSlot> setAside;  // in input order; none of them has a result, so none leaves the window
  std::uint64_t changesSeen = aside.Changes();
  bool lookAgain = false;  // Changes moved since the set-aside inputs were last found all still waiting
  if (maxHeld == 0) maxHeld = 1;
  // Under inputLock: the input this worker produces next, or false when
  // there is none left.
  auto take = [&](Slot*& slot, std::size_t& i) {
    for (;;) {
      if (!setAside.empty()) {
        const std::uint64_t changes = aside.Changes();
        if (changes != changesSeen) {
          changesSeen = changes;
          lookAgain = true;
        }
        if (lookAgain) {
          for (auto it = setAside.begin(); it != setAside.end(); ++it) {
            if (!aside.SetAside(it->slot->input)) {
              slot = it->slot;
              i = it->index;
              setAside.erase(it);
              return true;
            }
          }
          lookAgain = false;
        }
        std::size_t held;
        {
          std::lock_guard<std::mutex> hold(lock);
          held = handedOut - firstIndex;
        }
        if (ended || held >= maxHeld) {
          slot = setAside.front().slot;
          i = setAside.front().index;
          setAside.pop_front();
          return true;
        }
      }
      if (ended) return false;
      {
        // Every slot held is being produced or waits to be emitted: room
        // comes when the first is done.
        std::unique_lock<std::mutex> hold(lock);
        ++waitingForRoom;
        emitted.wait(hold, [&] { return handedOut - firstIndex < maxHeld; });
        --waitingForRoom;
      }
      Input input;
      if (!next(input)) {
        ended = true;
        continue;
      }
      {
        std::lock_guard<std::mutex> hold(lock);
        i = handedOut++;
        slot = &window.emplace_back(Slot{std::move(input), std::nullopt});
      }
      if (!aside.SetAside(slot->input)) return true;
      setAside.push_back({slot, i});
    }
  };
  auto work = [&] {
    startWorker();
    for (;;) {
      Slot* slot = nullptr;
      std::size_t i = 0;
      {
        std::lock_guard<std::mutex> taking(inputLock);
        if (!take(slot, i)) return;
      }
      Result result = produce(slot->input, i);
      std::unique_lock<std::mutex> hold(lock);
      slot->result.emplace(std::move(result));
      if (emitting) continue;
      // Hands on every finished result the ones before it no longer wait for;
      // an emitted result is dropped at once, so memory holds only those waiting.
      emitting = true;
      while (!window.empty() && window.front().result) {
        Slot ready = std::move(window.front());
        window.pop_front();
        const std::size_t index = firstIndex++;
        if (waitingForRoom) emitted.notify_all();
        hold.unlock();
        emit(index, ready.input, *ready.result);
        hold.lock();
      }
      emitting = false;
    }
  };
  if (threads <= 1) {
    work();
    return;
  }
  std::vector<std::thread> pool;
  pool.reserve(threads);
  for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(work);
  for (std::thread& t : pool) t.join();
}

template <class Input, class Result, class Next, class StartWorker, class Produce, class Emit>
void ForEachOrderedFrom(Next&& next, std::size_t threads, StartWorker&& startWorker, Produce&& produce, Emit&& emit) {
  ForEachOrderedFrom<Input, Result>(next, NoSettingAside{}, std::numeric_limits<std::size_t>::max(), threads,
                                    startWorker, produce, emit);
}

// Calls produce(i) for every i in [0, count) and emit(i, result) in index
// order. With fewer than two workers (or fewer than two inputs) everything
// runs on the calling thread, which counts as the only worker.
template <class Result, class StartWorker, class Produce, class Emit>
void ForEachOrdered(std::size_t count, int workers, StartWorker&& startWorker, Produce&& produce, Emit&& emit) {
  std::size_t taken = 0;
  const std::size_t threads =
      std::min<std::size_t>(workers > 1 ? static_cast<std::size_t>(workers) : 1, std::max<std::size_t>(count, 1));
  ForEachOrderedFrom<std::size_t, Result>(
      [&](std::size_t& i) {
        if (taken >= count) return false;
        i = taken++;
        return true;
      },
      threads, startWorker, [&](std::size_t& i, std::size_t) { return produce(i); },
      [&](std::size_t i, std::size_t&, Result& result) { emit(i, result); });
}

}  // namespace vel::cli
