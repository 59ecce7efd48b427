// The allocator's walks over values: the reachability query, the collection of
// temporaries, adoption of the pack's part arrays, and the reference counts of held
// values. None of them recurses or allocates: the work list runs through the blocks'
// records, so a value nested to any depth is walked in constant stack.
#include <new>

#include "host/embedded.h"
#include "host/part_view.h"
#include "sheet/allocator.h"

namespace sheet {

// Blocks waiting to be visited, linked through Block::next.
class Allocator::WorkList {
 public:
  void push(Block& block) {
    block.next = pending_;
    pending_ = &block;
  }
  Block* pop() {
    Block* block = pending_;
    if (block) {
      pending_ = block->next;
      block->next = nullptr;
    }
    return block;
  }

 private:
  Block* pending_ = nullptr;
};

// A walk that marks the blocks it reaches, each once; the marks are cleared when it ends.
class Allocator::Walk {
 public:
  Walk() = default;
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;
  ~Walk() {
    while (Block* block = visited_.pop()) block->marked = false;
  }

  // Adds a block the walk has not marked yet.
  void push(Block& block, bool isValue) {
    if (block.marked) return;
    block.marked = true;
    block.isValue = isValue;
    pending_.push(block);
  }

  // The next block to visit, or null when the walk is over.
  Block* pop() {
    Block* block = pending_.pop();
    if (block) visited_.push(*block);
    return block;
  }

 private:
  WorkList pending_;
  WorkList visited_;
};

namespace {

// The smallest block that holds a value record with this tag.
size_t recordSize(uint32_t tag) {
  switch (tag) {
    case kTagMatrix:
      return sizeof(aMatrix);
    case kTagError:
      return sizeof(aError);
    case kTagString:
      return sizeof(aString);
    default:
      return sizeof(Anyval);
  }
}

}  // namespace

template <class Reach, class Unknown>
void Allocator::forEachReference(const Block& block, bool elements, Reach reach,
                                 Unknown unknown) const {
  if (!block.isValue || block.bytes < sizeof(Anyval)) return;
  auto* value = reinterpret_cast<Anyval*>(block.address);
  if (block.bytes < recordSize(value->tag)) return;
  switch (value->tag) {
    case kTagMatrix: {
      aMatrix* m = as<aMatrix>(value);
      // The elements first: unknown() may take the part arrays away.
      if (elements && m->re) {
        const PartView re = realPart(m);
        for (int j = 0; j < m->cols; ++j) {
          for (int i = 0; i < m->rows; ++i) {
            if (!embedded::is(re(i, j))) continue;
            Block* target = valueBlock(embedded::target(re(i, j)));
            if (target && target != &block) reach(*target, true);
          }
        }
      }
      double* const arrays[] = {m->re, m->im == m->re ? nullptr : m->im};
      for (double* array : arrays) {
        if (!array) continue;
        if (Block* target = containing(array)) {
          if (target != &block) reach(*target, false);
        } else {
          unknown(m, array);
        }
      }
      break;
    }
    case kTagError: {
      Block* message = valueBlock(as<aError>(value)->message);
      if (message && message != &block) reach(*message, true);
      break;
    }
    case kTagString: {
      Block* text = containing(as<aString>(value)->text);
      if (text && text != &block) reach(*text, false);
      break;
    }
    default:
      break;
  }
}

void Allocator::markFrom(Walk& walk, std::span<Anyval* const> roots, uint64_t since) const {
  auto temporary = [since](const Block& block) {
    return block.serial >= since && block.holds == 0;
  };
  for (Anyval* root : roots) {
    Block* block = valueBlock(root);
    if (block && temporary(*block)) walk.push(*block, true);
  }
  while (Block* block = walk.pop()) {
    forEachReference(
        *block, true,
        [&](Block& target, bool isValue) {
          if (temporary(target)) walk.push(target, isValue);
        },
        [](aMatrix*, double*) {});
  }
}

std::vector<BlockInfo> Allocator::unreachable(std::span<Anyval* const> roots,
                                              uint64_t since) const {
  Walk walk;
  markFrom(walk, roots, since);
  std::vector<BlockInfo> result;
  for (const Block* block = newest_; block && block->serial >= since; block = block->older) {
    if (!block->marked && block->holds == 0) {
      result.push_back({block->address, block->bytes, block->origin});
    }
  }
  return result;
}

size_t Allocator::collect(std::span<Anyval* const> roots, uint64_t since) noexcept {
  size_t freed = 0;
  {
    Walk walk;
    markFrom(walk, roots, since);
    for (Block* block = newest_; block && block->serial >= since;) {
      Block* older = block->older;
      if (!block->marked && block->holds == 0) {
        drop(*block);
        ++freed;
      }
      block = older;
    }
  }
  refillReserve();
  return freed;
}

void Allocator::adopt(Anyval* value) {
  Block* first = valueBlock(value);
  if (!first || first->holds > 0 || first->adopted) return;
  first->adopted = true;
  first->isValue = true;
  WorkList work;
  work.push(*first);
  bool failed = false;
  while (Block* block = work.pop()) {
    forEachReference(
        *block, true,
        [&](Block& target, bool isValue) {
          if (target.holds > 0 || target.adopted) return;
          target.adopted = true;
          target.isValue = isValue;
          work.push(target);
        },
        [&](aMatrix* m, double* array) {
          if (!failed) {
            try {
              const size_t bytes = size_t(m->ld) * size_t(m->cols) * sizeof(double);
              record(reinterpret_cast<uintptr_t>(array), bytes, Origin::kPackHeap).adopted = true;
              return;
            } catch (const std::bad_alloc&) {
              failed = true;
            }
          }
          // Nothing else refers to an array the pack handed over with this result.
          ::operator delete(array);
          if (m->re == array) m->re = nullptr;
          if (m->im == array) m->im = nullptr;
        });
  }
  if (failed) throw std::bad_alloc();
}

void Allocator::hold(Anyval* value) noexcept {
  Block* first = valueBlock(value);
  if (!first || first->holds++ > 0) return;
  first->isValue = true;
  WorkList work;
  work.push(*first);
  while (Block* block = work.pop()) {
    forEachReference(
        *block, true,
        [&](Block& target, bool isValue) {
          if (isValue) block->embeds = true;
          if (target.holds++ > 0) return;
          target.isValue = isValue;
          work.push(target);
        },
        [](aMatrix*, double*) {});
  }
}

void Allocator::letGo(Anyval* value) noexcept {
  Block* first = valueBlock(value);
  if (!first || first->holds == 0 || --first->holds > 0) return;
  WorkList work;
  work.push(*first);
  while (Block* block = work.pop()) {
    forEachReference(
        *block, block->embeds,
        [&](Block& target, bool) {
          if (target.holds == 0 || --target.holds > 0) return;
          work.push(target);
        },
        [](aMatrix*, double* array) { ::operator delete(array); });
    drop(*block);
  }
}

}  // namespace sheet
