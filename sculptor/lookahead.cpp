#include "sculptor/lookahead.h"

#include <cstring>
#include <system_error>
#include <type_traits>

#include "sculptor/parallel.h"

namespace tervik {

namespace {

static_assert(std::is_trivially_copyable_v<RandomSequence>);

// A short pause in a waiting loop.
inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

// The helper stays this many blocks at most ahead of the caller's block (so that little of its
// work is lost when a run ends early, as most do).
constexpr std::size_t kLead = 3;
// Pauses the helper spends looking for a new run before it sleeps until one comes.
constexpr int kIdleSpins = 4000;
// Pauses the caller waits for answers that the helper is computing before it tests alone.
constexpr int kWaitSpins = 2000;

std::uint64_t word_of(double x) {
  std::uint64_t w;
  std::memcpy(&w, &x, sizeof w);
  return w;
}
double double_of(std::uint64_t w) {
  double x;
  std::memcpy(&x, &w, sizeof x);
  return x;
}

}  // namespace

Point3D CandidateRule::point(int d0, int d1, int d2) const {
  // The draws mapped onto [-1, 1] as sym_rand() does.
  const double s0 = d0 * symsc - 1.0;
  const double s1 = d1 * symsc - 1.0;
  const double s2 = d2 * symsc - 1.0;
  if (kind == kCube) return centre + Point3D(s2, s1, s0) * scale;
  const double R = scale;
  double a = R * s0;
  a = a <= 0 ? a - R / 2 : a + R / 2;
  double b = R * s1;
  b = b <= 0 ? b - R / 2 : b + R / 2;
  const double c = depth * s2;
  return ((centre + normal * c) + u * a) + v * b;
}

CandidateStream::CandidateStream(HullGrid& grid, AdmissibleTest test, bool helper, bool patient)
    : grid_(grid), test_(test), patient_(patient) {
  if (!helper) return;
  try {
    helper_ = std::thread([this] {
      lower_thread_priority();
      help();
    });
  } catch (const std::system_error&) {
    // No thread to spare: every candidate is tested here.
  }
}

CandidateStream::~CandidateStream() {
  if (!helper_.joinable()) return;
  stop_.store(true);
  published_.fetch_add(2);
  published_.notify_one();
  helper_.join();
}

void CandidateStream::begin(const CandidateRule& rule) {
  rule_ = rule;
  ++run_;
  index_ = 0;
  have_answers_ = false;
  if (!helper_.joinable()) return;
  // The rule and the sequence's state, between an odd and an even count (seqlock).
  caller_at_.store(tag(run_, 0), std::memory_order_relaxed);
  published_.store(2 * run_ - 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  const std::uint64_t words[kRuleWords] = {
      rule.kind,          word_of(rule.centre.x), word_of(rule.centre.y), word_of(rule.centre.z),
      word_of(rule.scale), word_of(rule.depth),   word_of(rule.normal.x), word_of(rule.normal.y),
      word_of(rule.normal.z), word_of(rule.u.x),  word_of(rule.u.y),      word_of(rule.u.z),
      word_of(rule.v.x),  word_of(rule.v.y),      word_of(rule.v.z)};
  for (std::size_t i = 0; i < kRuleWords; ++i)
    context_[i].store(words[i], std::memory_order_relaxed);
  std::uint64_t sequence[kSequenceWords] = {};
  std::memcpy(sequence, &sampler_sequence, sizeof(RandomSequence));
  for (std::size_t i = 0; i < kSequenceWords; ++i)
    context_[kRuleWords + i].store(sequence[i], std::memory_order_relaxed);
  published_.store(2 * run_);  // sequentially consistent: see help() on sleeping_
  if (sleeping_.load()) published_.notify_one();
}

bool CandidateStream::next(Point3D& q) {
  const int d0 = sampler_rand();
  const int d1 = sampler_rand();
  const int d2 = sampler_rand();
  q = rule_.point(d0, d1, d2);
  const std::size_t k = index_++;
  if (helper_.joinable()) {
    const std::size_t j = k % kBlock;
    if (j == 0) {
      const std::size_t block = k / kBlock;
      caller_at_.store(tag(run_, block), std::memory_order_relaxed);
      have_answers_ = block % 2 == 1 && answers_of(block, answers_);
    }
    if (have_answers_) {
      ++ahead_;
      return (answers_ >> j) & 1;
    }
  }
  return test_(grid_, q);
}

bool CandidateStream::answers_of(std::size_t block, std::uint64_t& answers) {
  const std::uint64_t want = tag(run_, block);
  const Slot& slot = slots_[block % kSlots];
  for (int spin = 0;; ++spin) {
    if (slot.tag.load(std::memory_order_acquire) == want) {
      answers = slot.answers.load(std::memory_order_relaxed);
      std::atomic_thread_fence(std::memory_order_acquire);
      return slot.tag.load(std::memory_order_relaxed) == want;
    }
    if (!patient_ && (working_.load(std::memory_order_relaxed) != want || spin >= kWaitSpins))
      return false;
    pause();
  }
}

void CandidateStream::help() {
  std::uint64_t seen = 0;  // the last run taken up
  RandomSequence sequence;
  CandidateRule rule;
  for (;;) {
    // 1. A new run: spin a little, then sleep until the caller publishes one.
    std::uint64_t s = published_.load(std::memory_order_acquire);
    for (int spin = 0; !stop_.load(std::memory_order_relaxed) && (s % 2 == 1 || s / 2 == seen);) {
      if (++spin < kIdleSpins) {
        pause();
      } else {
        sleeping_.store(true);
        s = published_.load();
        if (s % 2 == 1 || s / 2 == seen) published_.wait(s);
        sleeping_.store(false);
        spin = 0;
      }
      s = published_.load(std::memory_order_acquire);
    }
    if (stop_.load(std::memory_order_relaxed)) return;
    std::uint64_t words[kRuleWords + kSequenceWords];
    for (std::size_t i = 0; i < kRuleWords + kSequenceWords; ++i)
      words[i] = context_[i].load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (published_.load(std::memory_order_relaxed) != s) continue;  // rewritten meanwhile
    const std::uint64_t run = s / 2;
    seen = run;
    rule.kind = static_cast<CandidateRule::Kind>(words[0]);
    rule.centre = Point3D(double_of(words[1]), double_of(words[2]), double_of(words[3]));
    rule.scale = double_of(words[4]);
    rule.depth = double_of(words[5]);
    rule.normal = Point3D(double_of(words[6]), double_of(words[7]), double_of(words[8]));
    rule.u = Point3D(double_of(words[9]), double_of(words[10]), double_of(words[11]));
    rule.v = Point3D(double_of(words[12]), double_of(words[13]), double_of(words[14]));
    std::memcpy(static_cast<void*>(&sequence), words + kRuleWords, sizeof(RandomSequence));

    // 2. The odd blocks of the run ahead of the caller, until it begins another run.
    std::size_t drawn = 0;  // candidates whose draws were taken
    for (std::size_t block = 1;;) {
      if (stop_.load(std::memory_order_relaxed) ||
          published_.load(std::memory_order_relaxed) != s)
        break;
      const std::uint64_t at = caller_at_.load(std::memory_order_relaxed);
      const std::size_t caller = (at >> 24) == run ? static_cast<std::size_t>(at & 0xffffff) : 0;
      if (block < caller) block = caller % 2 == 0 ? caller + 1 : caller;
      if (block > caller + kLead) {
        pause();
        continue;
      }
      for (; drawn < block * kBlock; ++drawn) {
        sequence.next();
        sequence.next();
        sequence.next();
      }
      working_.store(tag(run, block), std::memory_order_relaxed);
      std::uint64_t answers = 0;
      for (std::size_t j = 0; j < kBlock; ++j, ++drawn) {
        const int d0 = sequence.next();
        const int d1 = sequence.next();
        const int d2 = sequence.next();
        if (test_.beside(grid_, rule.point(d0, d1, d2))) answers |= std::uint64_t{1} << j;
      }
      Slot& slot = slots_[block % kSlots];
      slot.tag.store(0, std::memory_order_relaxed);
      std::atomic_thread_fence(std::memory_order_release);
      slot.answers.store(answers, std::memory_order_relaxed);
      slot.tag.store(tag(run, block), std::memory_order_release);
      block += 2;
    }
  }
}

}  // namespace tervik
