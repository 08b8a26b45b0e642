// ForEachOrdered: work on N inputs with up to W threads, results handed on in
// input order. velitems reads files this way: each file is read by whichever
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
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace vel::cli {

// Calls produce(i) for every i in [0, count) and emit(i, result) in index
// order. With fewer than two workers (or fewer than two inputs) everything
// runs on the calling thread, which counts as the only worker.
template <class Result, class StartWorker, class Produce, class Emit>
void ForEachOrdered(std::size_t count, int workers, StartWorker&& startWorker, Produce&& produce, Emit&& emit) {
  std::vector<std::optional<Result>> results(count);
  std::mutex lock;
  std::size_t nextToEmit = 0;
  std::atomic<std::size_t> nextToProduce{0};
  auto work = [&] {
    startWorker();
    for (;;) {
      const std::size_t i = nextToProduce.fetch_add(1);
      if (i >= count) return;
      Result result = produce(i);
      std::lock_guard<std::mutex> hold(lock);
      results[i].emplace(std::move(result));
      // Hands on every finished result the ones before it no longer wait for;
      // an emitted result is dropped at once, so memory holds only those waiting.
      while (nextToEmit < count && results[nextToEmit]) {
        emit(nextToEmit, *results[nextToEmit]);
        results[nextToEmit].reset();
        ++nextToEmit;
      }
    }
  };
  const std::size_t threads =
      std::min<std::size_t>(workers > 1 ? static_cast<std::size_t>(workers) : 1, std::max<std::size_t>(count, 1));
  if (threads <= 1) {
    work();
    return;
  }
  std::vector<std::thread> pool;
  pool.reserve(threads);
  for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(work);
  for (std::thread& t : pool) t.join();
}

}  // namespace vel::cli
