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
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace vel::cli {

// Takes inputs from next(input) (false: no more; one call at a time) while
// workers call produce(input, i), and calls emit(i, input, result) in input
// order (one call at a time). Only inputs handed out and not yet emitted are
// held, so a stream of any length costs the same memory. With fewer than two
// threads everything runs on the calling thread. Neither next nor emit holds
// up the workers' hand-over: each has a lock of its own, and whichever worker
// finds results ready emits them while the others go on.
template <class Input, class Result, class Next, class StartWorker, class Produce, class Emit>
void ForEachOrderedFrom(Next&& next, std::size_t threads, StartWorker&& startWorker, Produce&& produce,
                        Emit&& emit) {
  struct Slot {
    Input input;
    std::optional<Result> result;
  };
  std::mutex inputLock;  // next, and the order in which inputs join the window
  std::mutex lock;       // the window
  std::deque<Slot> window;  // handed out, not yet emitted; references survive push_back and pop_front
  std::size_t firstIndex = 0;
  std::size_t handedOut = 0;
  bool ended = false;
  bool emitting = false;  // a worker is emitting: the others leave it to that one
  auto work = [&] {
    startWorker();
    for (;;) {
      Slot* slot = nullptr;
      std::size_t i = 0;
      {
        std::lock_guard<std::mutex> taking(inputLock);
        if (ended) return;
        Input input;
        if (!next(input)) {
          ended = true;
          return;
        }
        std::lock_guard<std::mutex> hold(lock);
        i = handedOut++;
        slot = &window.emplace_back(Slot{std::move(input), std::nullopt});
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
