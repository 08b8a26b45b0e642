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

// Takes inputs from next(input) (false: no more; called under the lock, one
// call at a time) while workers call produce(input, i), and calls
// emit(i, input, result) in input order. Only inputs handed out and not yet
// emitted are held, so a stream of any length costs the same memory. With
// fewer than two threads everything runs on the calling thread.
template <class Input, class Result, class Next, class StartWorker, class Produce, class Emit>
void ForEachOrderedFrom(Next&& next, std::size_t threads, StartWorker&& startWorker, Produce&& produce,
                        Emit&& emit) {
  struct Slot {
    Input input;
    std::optional<Result> result;
  };
  std::deque<Slot> window;  // handed out, not yet emitted; references survive push_back and pop_front
  std::size_t firstIndex = 0;
  std::size_t handedOut = 0;
  bool ended = false;
  std::mutex lock;
  auto work = [&] {
    startWorker();
    std::unique_lock<std::mutex> hold(lock);
    while (!ended) {
      Input input;
      if (!next(input)) {
        ended = true;
        break;
      }
      const std::size_t i = handedOut++;
      Slot& slot = window.emplace_back(Slot{std::move(input), std::nullopt});
      hold.unlock();
      Result result = produce(slot.input, i);
      hold.lock();
      slot.result.emplace(std::move(result));
      // Hands on every finished result the ones before it no longer wait for;
      // an emitted result is dropped at once, so memory holds only those waiting.
      while (!window.empty() && window.front().result) {
        emit(firstIndex, window.front().input, *window.front().result);
        window.pop_front();
        ++firstIndex;
      }
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
