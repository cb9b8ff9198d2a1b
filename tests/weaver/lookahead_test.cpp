#include "weaver/lookahead.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/patch.h"
#include "weaver/point_tree.h"

namespace tervik {
namespace {

using Indices = std::vector<unsigned int>;

// A cloud on an integer grid, so that many midpoints are at equal distance from several points.
struct Cloud {
  std::vector<Patch> patches;
  std::vector<Point3D> pos;  // by the tree's numbers
  PointTree tree;

  Cloud(std::mt19937& rng, int n)
      : patches(make(rng, n)), tree(patches) {
    tree.renumber();
    for (uint32_t i = 0; i < tree.size(); ++i) pos.push_back(tree.position(i));
  }
  static std::vector<Patch> make(std::mt19937& rng, int n) {
    std::uniform_int_distribution<int> coord(0, 9);
    std::vector<Patch> out(n);
    for (Patch& p : out) p.pos = Point3D(coord(rng), coord(rng), coord(rng));
    return out;
  }
};

// Drives a Lookahead as the mesher does: edges are pushed and popped in bursts, each popped one
// is asked for, a changing subset of the queued ones is offered, and between two pops a helper
// computes `helper_steps(rng)` answers on this thread (none: no helper; many: one far ahead).
// Every answer must be the tree's own answer for the edge's midpoint, whoever computed it.
template <typename Steps>
void expect_tree_answers(unsigned int k, unsigned int slots, Steps helper_steps, bool helps,
                         const std::string& what) {
  std::mt19937 rng(k * 131 + slots);
  const Cloud cloud(rng, 300);
  Lookahead ahead(cloud.tree, cloud.pos, k, slots);
  EdgeQueue q;
  std::uniform_int_distribution<unsigned int> vertex(0, cloud.tree.size() - 1);
  auto push = [&](int count) {
    for (int i = 0; i < count; ++i) q.push(HalfEdge(vertex(rng), vertex(rng), vertex(rng), {}));
  };
  push(40);
  PointTree::Scratch scratch, helper_scratch, reference_scratch;
  Indices buffer, helper_buffer, want;
  unsigned int asked = 0;
  unsigned int helped = 0;
  while (!q.empty()) {
    const HalfEdge e = q.pop();
    if (q.pushed() < 900) push(static_cast<int>(rng() % 4));
    // Some popped edges are skipped, as stale ones are, and never asked for.
    if (rng() % 4 == 0) continue;
    unsigned int count = 0;
    const unsigned int* got = ahead.get(q, e, count, scratch, buffer);
    cloud.tree.nearest(edge_midpoint(cloud.pos, e), k, want, reference_scratch);
    ASSERT_EQ(Indices(got, got + count), want) << what << ", edge " << q.popped() - 1;
    ++asked;
    const unsigned int parity = rng() % 3;
    ahead.offer(q, [&](const HalfEdge& x) { return (x.from + x.to) % 3 != parity; });
    for (int s = helper_steps(rng); s > 0; --s) {
      if (!ahead.work(helper_scratch, helper_buffer)) break;
      ++helped;
    }
  }
  EXPECT_GE(asked, 450u) << what;
  // A helper that gets turns answers some edges, so that the comparisons above met its answers.
  if (helps) EXPECT_GT(helped, 50u) << what;
  ahead.retire();
  EXPECT_FALSE(ahead.work(helper_scratch, helper_buffer)) << what << ": work after retire";
}

TEST(Lookahead, AnswersAreTheTreesWithHelpersAbsentSlowOrFast) {
  for (unsigned int k : {1u, 20u, 120u}) {
    for (unsigned int slots : {2u, 128u}) {
      const std::string what = "k " + std::to_string(k) + ", slots " + std::to_string(slots);
      expect_tree_answers(k, slots, [](std::mt19937&) { return 0; }, false,
                          what + ", no helper");
      expect_tree_answers(k, slots, [](std::mt19937& rng) { return static_cast<int>(rng() % 2); },
                          true, what + ", slow helper");
      expect_tree_answers(k, slots, [](std::mt19937&) { return 1000; }, true,
                          what + ", fast helper");
    }
  }
}

// Real helper threads answer alongside the mesher's thread: the answers stay the tree's.
TEST(Lookahead, AnswersAreTheTreesWithHelperThreads) {
  std::mt19937 rng(5);
  const Cloud cloud(rng, 1000);
  Lookahead ahead(cloud.tree, cloud.pos, 20, 128);
  EdgeQueue q;
  std::uniform_int_distribution<unsigned int> vertex(0, cloud.tree.size() - 1);
  for (int i = 0; i < 8000; ++i) q.push(HalfEdge(vertex(rng), vertex(rng), 0, {}));
  LookaheadHelpers helpers({&ahead}, 2);
  PointTree::Scratch scratch, reference_scratch;
  Indices buffer, want;
  unsigned int wrong = 0;
  for (unsigned int i = 0; !q.empty(); ++i) {
    const HalfEdge e = q.pop();
    unsigned int count = 0;
    const unsigned int* got = ahead.get(q, e, count, scratch, buffer);
    cloud.tree.nearest(edge_midpoint(cloud.pos, e), 20, want, reference_scratch);
    if (Indices(got, got + count) != want) ++wrong;
    ahead.offer(q, [](const HalfEdge& x) { return x.from % 5 != 0; });
    if (i % 64 == 0) helpers.poke();
  }
  ahead.retire();
  EXPECT_EQ(wrong, 0u);
}

}  // namespace
}  // namespace tervik
