#include "solver/refinement.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <condition_variable>
#include <coroutine>
#include <cstdint>
#include <ctime>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <numbers>
#include <system_error>
#include <thread>
#include <utility>

#include "base/number_text.h"
#include "base/zelv_error.h"
#include "solver/projection.h"

namespace zelv {
namespace {

// One of the four parameters as the rounds of a pass visit it.
struct ParameterSearch {
  double PoseParameters::*member = nullptr;
  MoveFunction move = nullptr;
  const char* heading = "";  // the log line before its search
  double startStep = 0;      // this pass's start step
  double finalOffset = 0;
};

// The start steps of one outer iteration (radians; scene units for the distance) and the final
// offset of the distance (scene units).
struct IterationSteps {
  double al = 0, bet = 0, hi = 0, distance = 0, distanceFinal = 0;
};

const double kShrinkPercent[3] = {70, 85, 99};
const double kStepFactor[3] = {1, 0.3, 0.09};  // 0.3 to the power of the pass index
constexpr int kPreciseIterations = 30;

// The start steps of outer iteration j (from 1): the settings' at level 1; at level 3 j degrees
// for the angles and j percent of the distance.
IterationSteps StepsOf(int j, int level, const RefinementSettings& settings, double L) {
  IterationSteps steps;
  double lStart = settings.LStart;
  steps.al = settings.AlStart;
  steps.bet = settings.BetStart;
  steps.hi = settings.HiStart;
  if (level == 3) {
    lStart = j;
    steps.al = steps.bet = steps.hi = ToRadians(j);
  }
  steps.distance = L * lStart * 0.01;
  steps.distanceFinal = L * settings.LMin * 0.01;
  return steps;
}

// A final offset not above 0 would let a step shrink towards 0 without ever ending; it is
// refused, before anything is evaluated, for every parameter whose search would run in some
// pass of some outer iteration (start step above the final offset). A negative distance, for
// example, has a negative final offset but a start step below it, so its search never runs.
void CheckFinalOffsets(int iterations, int level, const RefinementSettings& settings, double L) {
  for (int j = 1; j <= iterations; ++j) {
    const IterationSteps steps = StepsOf(j, level, settings, L);
    for (double factor : kStepFactor) {
      const double start[4] = {factor * steps.bet, factor * steps.al, factor * steps.distance,
                               factor * steps.hi};
      const double final[4] = {settings.BetMin, settings.AlMin, steps.distanceFinal,
                               settings.HiMin};
      for (int i = 0; i < 4; ++i)
        if (start[i] > final[i] && !(final[i] > 0))
          throw ZelvError("the final offset of the refinement must be above 0");
    }
  }
}

// The cost at the current parameters when it is known (it was evaluated at bit-identical
// parameters: the cost is a pure function of them, so it needs no new evaluation).
struct KnownCost {
  bool known = false;
  double cost = 0;
};

// The costs of one line search, keyed on the bits of the varied parameter (the other three do
// not change during the search): a direct-mapped table, small enough for the tables of every
// outer iteration a thread runs to stay in the first-level cache, so a value the search comes
// back to within some dozens of evaluations costs nothing. Each search starts it empty.
class SearchCosts {
 public:
  void Clear() { entries_.fill({kEmpty, 0}); }
  bool Find(double v, double& cost) const {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    const Entry& e = entries_[Slot(bits)];
    if (e.key != bits) return false;
    cost = e.cost;
    return true;
  }
  void Add(double v, double cost) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    entries_[Slot(bits)] = {bits, cost};
  }

 private:
  // A signalling NaN: no arithmetic gives one, so no parameter has these bits.
  static constexpr std::uint64_t kEmpty = 0x7ff4000000000001ull;
  static constexpr int kBits = 7;
  static std::size_t Slot(std::uint64_t bits) {
    return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> (64 - kBits));
  }
  struct Entry {
    std::uint64_t key;
    double cost;
  };
  std::array<Entry, 1 << kBits> entries_;
};

// What a line search varies and how.
struct SearchTarget {
  double PoseParameters::*member;
  MoveFunction move;
  double startStep;
  double finalOffset;
  double shrinkPercent;
};

// One line search taken apart into its steps, so that the caller evaluates what a step needs
// (alone, or together with the steps of other outer iterations): Start, then while Running:
// Queries, the caller evaluates them, Advance. The decisions are those of the straightforward
// search, which evaluates c0, c− and c+ afresh at every step; a cost known from earlier in the
// search is taken from `costs` instead. `moves` counts the steps of the whole outer iteration.
class LineSearch {
 public:
  void Start(PoseParameters& p, const SearchTarget& target, KnownCost& atP, long& moves,
             SearchCosts& costs) {
    p_ = &p;
    target_ = target;
    atP_ = &atP;
    moves_ = &moves;
    costs_ = &costs;
    s_ = target.startStep;
    walk_ = 0;
    running_ = s_ > target.finalOffset;
    if (!running_) return;
    costs.Clear();
    if (atP.known) costs.Add(p.*target.member, atP.cost);
    // The angles this search does not vary keep their sines for every query; those of the
    // search before are kept where the angle has not changed since.
    UpdateSines(p.Al, at_.p.Al, at_.al);
    UpdateSines(p.Bet, at_.p.Bet, at_.bet);
    UpdateSines(p.Hi, at_.p.Hi, at_.hi);
    at_.p = p;
    sinesKnown_ = true;
  }
  bool Running() const { return running_; }

  // The queries of the next step that are not known yet, into `out` (at most 3); returns how
  // many.
  int Queries(CostQuery* out) {
    if (++*moves_ > kMaxMovesPerIteration) throw ZelvError("the refinement does not settle");
    const double centre = (*p_).*target_.member;
    // The centre, the lower probe and the upper probe (reached from the lower one by +2s, as
    // the parameter walks there) are known before any of them is evaluated.
    lower_ = target_.move(centre, -s_);
    upper_ = target_.move(lower_, 2 * s_);
    const double values[3] = {centre, lower_, upper_};
    missing_ = 0;
    for (int i = 0; i < 3; ++i) {
      source_[i] = -1;
      if (costs_->Find(values[i], c_[i])) continue;
      const std::uint64_t bits = std::bit_cast<std::uint64_t>(values[i]);
      for (int m = 0; m < missing_; ++m)
        if (missingBits_[m] == bits) source_[i] = m;  // a step too small to change the value
      if (source_[i] >= 0) continue;
      CostQuery& q = out[missing_];
      q = at_;
      q.p.*target_.member = values[i];
      if (target_.member == &PoseParameters::Al) q.al = SineCosineOf(values[i]);
      if (target_.member == &PoseParameters::Bet) q.bet = SineCosineOf(values[i]);
      if (target_.member == &PoseParameters::Hi) q.hi = SineCosineOf(values[i]);
      missingValues_[missing_] = values[i];
      missingBits_[missing_] = bits;
      source_[i] = missing_++;
    }
    return missing_;
  }

  // The step with the costs of the queries Queries gave.
  void Advance(const double* evaluated) {
    for (int m = 0; m < missing_; ++m) costs_->Add(missingValues_[m], evaluated[m]);
    for (int i = 0; i < 3; ++i)
      if (source_[i] >= 0) c_[i] = evaluated[source_[i]];
    const double c0 = c_[0], cMinus = c_[1], cPlus = c_[2];
    // A long walk at one step must lower the cost fast enough to end (see kWalkWindow).
    if (walk_ == 0) {
      walkStart_ = c0;
    } else if (walk_ == kWalkWindow) {
      if (!(walkStart_ - c0 >= kLeastWalkFall * c0))
        throw ZelvError("the refinement walks without settling");
      walk_ = 0;
      walkStart_ = c0;
    }
    double& current = (*p_).*target_.member;
    if (cPlus >= c0 && cMinus >= c0) {
      current = target_.move(upper_, -s_);
      s_ = s_ * target_.shrinkPercent * 0.01;
      walk_ = 0;
    } else {
      if (cPlus > c0 && cMinus < c0) {
        current = target_.move(upper_, -2 * s_);
      } else if (cPlus < c0 && cMinus < c0 && cPlus > cMinus) {
        current = target_.move(upper_, -2 * s_);
      } else {
        current = upper_;  // the upper probe is kept with the same step
      }
      ++walk_;
    }
    if (!(s_ > target_.finalOffset)) {
      running_ = false;
      atP_->known = costs_->Find(current, atP_->cost);
    }
  }

 private:
  void UpdateSines(double angle, double known, SineCosine& sines) const {
    if (!sinesKnown_ || std::bit_cast<std::uint64_t>(angle) != std::bit_cast<std::uint64_t>(known))
      sines = SineCosineOf(angle);
  }

  bool sinesKnown_ = false;  // at_ holds the sines of the angles in at_.p
  PoseParameters* p_ = nullptr;
  SearchTarget target_{};
  KnownCost* atP_ = nullptr;
  long* moves_ = nullptr;
  SearchCosts* costs_ = nullptr;
  CostQuery at_{};
  double s_ = 0, lower_ = 0, upper_ = 0;
  bool running_ = false;
  long walk_ = 0;  // moves since the step last changed or the walk was last checked
  double walkStart_ = 0;
  double c_[3] = {};
  int source_[3] = {};  // where c_[i] comes from: -1 known, otherwise a query index
  int missing_ = 0;
  double missingValues_[3] = {};
  std::uint64_t missingBits_[3] = {};
};

// The queries an outer iteration waits for and their costs; `error` when their evaluation
// raised (the iteration then raises too, as the straightforward one would). The iteration writes
// its queries where `queries` points and reads their costs where `costs` points: by default its
// own arrays; the lockstep runner points them into its shared arrays, so the queries of all its
// iterations are evaluated where they were written.
struct PendingCosts {
  CostQuery* queries = ownQueries;
  int count = 0;
  const double* costs = ownCosts;
  std::exception_ptr error;
  CostQuery ownQueries[3];
  double ownCosts[3] = {};
};

// One outer iteration as a coroutine: it suspends whenever it needs costs (in `pending`), so
// one thread can run several in lockstep and evaluate their queries together.
class IterationTask {
 public:
  struct promise_type {
    TResStruct result{};
    std::exception_ptr error;
    IterationTask get_return_object() {
      return IterationTask(std::coroutine_handle<promise_type>::from_promise(*this));
    }
    std::suspend_always initial_suspend() noexcept { return {}; }
    std::suspend_always final_suspend() noexcept { return {}; }
    void return_value(const TResStruct& r) { result = r; }
    void unhandled_exception() { error = std::current_exception(); }
  };
  using Handle = std::coroutine_handle<promise_type>;

  IterationTask() = default;
  explicit IterationTask(Handle h) : handle_(h) {}
  IterationTask(IterationTask&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
  IterationTask& operator=(IterationTask&& other) noexcept {
    if (this != &other) {
      if (handle_) handle_.destroy();
      handle_ = std::exchange(other.handle_, {});
    }
    return *this;
  }
  ~IterationTask() {
    if (handle_) handle_.destroy();
  }
  // Runs until the next wait for costs or the end.
  void Resume() { handle_.resume(); }
  bool Done() const { return handle_.done(); }
  promise_type& Promise() { return handle_.promise(); }

 private:
  Handle handle_{};
};

// Suspends the iteration until its pending queries have costs.
struct AwaitCosts {
  PendingCosts& pending;
  bool await_ready() const noexcept { return pending.count == 0; }
  void await_suspend(std::coroutine_handle<>) const noexcept {}
  void await_resume() const {
    if (pending.error) std::rethrow_exception(pending.error);
  }
};

// One outer iteration: three passes of rounds over Bet, Al, the distance and Hi. Writes the pass,
// round, heading and value lines to `log` when it is not null. Ends with where it ended and the
// cost there.
IterationTask OuterIteration(PoseParameters start, double startCost, IterationSteps steps,
                             const RefinementSettings& settings, std::function<void()> progress,
                             std::vector<std::string>* log, char decimalSeparator,
                             PendingCosts& pending) {
  // Every local lives at the top: a frame variable declared in a loop's scope and kept across a
  // suspension is not reliably preserved by every compiler that builds this.
  PoseParameters p = start;
  KnownCost atP{true, startCost};
  double cLast = 0;
  long moves = 0;
  SearchCosts costs;
  LineSearch search;
  ParameterSearch order[4];
  double k = 0, best = 0, previous = 0;
  int stale = 0, round = 0, item = 0, w = 0;
  for (w = 0; w < 3; ++w) {
    k = kShrinkPercent[w];
    const double factor = kStepFactor[w];
    order[0] = {&PoseParameters::Bet, WrapTilt,
                "Уточнение решения по углу поворота сцены вокруг орбитальной оси",
                factor * steps.bet, settings.BetMin};
    order[1] = {&PoseParameters::Al, WrapTilt,
                "Уточнение решения по углу поворота сцены вокруг поперечной оси", factor * steps.al,
                settings.AlMin};
    order[2] = {&PoseParameters::L, MoveDistance, "Уточнение решения по расстоянию",
                factor * steps.distance, steps.distanceFinal};
    order[3] = {&PoseParameters::Hi, WrapTurn, "Уточнение решения по углу поворота изображения",
                factor * steps.hi, settings.HiMin};
    if (log)
      log->push_back(std::to_string(w + 1) + "-й проход. " + std::to_string(static_cast<int>(k)) +
                     "%.");
    best = 1000000000000000.0;
    previous = 0;
    stale = 0;
    round = 0;
    // Rounds without a single step leave the cost as it was and so end the pass by staleness.
    while (stale <= 3) {
      if (log) log->push_back("Номер итерации - " + std::to_string(round + 1));
      if (progress) progress();
      for (item = 0; item < 4; ++item) {
        if (log) log->push_back(order[item].heading);
        search.Start(p,
                     {order[item].member, order[item].move, order[item].startStep,
                      order[item].finalOffset, k},
                     atP, moves, costs);
        while (search.Running()) {
          pending.count = search.Queries(pending.queries);
          co_await AwaitCosts{pending};
          search.Advance(pending.costs);
        }
        if (!atP.known) {
          pending.queries[0] = {p, SineCosineOf(p.Al), SineCosineOf(p.Bet), SineCosineOf(p.Hi)};
          pending.count = 1;
          co_await AwaitCosts{pending};
          atP = {true, pending.costs[0]};
        }
        cLast = atP.cost;
        if (cLast < best) best = cLast;
        if (log) log->push_back(RefinementValueLine(p, cLast, decimalSeparator));
      }
      if (previous > 0 && std::fabs(best - previous) < 0.0001) ++stale;
      previous = best;
      ++round;
      // A perfect fit cannot improve: without this the pass would never count a stale round.
      if (best == 0) break;
    }
  }
  co_return TResStruct{p.Al, p.Bet, p.Hi, p.L, cLast};
}

// What one outer iteration left: its outcome and log lines, or the error it raised.
struct IterationOutcome {
  TResStruct result;
  std::vector<std::string> log;
  std::exception_ptr error;
};

// The outer iterations one thread runs side by side: their queries are evaluated together, one
// evaluation per vector lane, which keeps the processor's dividers busy.
constexpr int kLockstepWidth = 16;

// Runs outer iterations on this thread in lockstep, at most kLockstepWidth at a time, taking the
// number of the next one from `next` (0 when there is none) and `make` to start it; `finish`
// receives each one's outcome.
void RunLockstep(const RefinementCostModel& model, const std::function<int()>& next,
                 const std::function<IterationTask(int, PendingCosts&)>& make,
                 const std::function<void(int, IterationTask&)>& finish) {
  struct Slot {
    int j;
    std::unique_ptr<PendingCosts> pending;
    IterationTask task;
    int at = 0;  // where its queries start in `queries`
  };
  std::vector<Slot> active;
  // Each waiting iteration asks for at most three costs.
  std::vector<CostQuery> queries(3 * kLockstepWidth);
  std::vector<double> costs(3 * kLockstepWidth);
  int filled = 0;
  // Runs the slot's iteration to its next wait, its queries written after those of the others.
  const auto resume = [&](Slot& slot) {
    slot.pending->queries = queries.data() + filled;
    slot.task.Resume();
    slot.at = filled;
    if (!slot.task.Done()) filled += slot.pending->count;
  };
  bool more = true;
  for (;;) {
    while (more && static_cast<int>(active.size()) < kLockstepWidth) {
      const int j = next();
      if (j == 0) {
        more = false;
        break;
      }
      Slot slot{j, std::make_unique<PendingCosts>(), {}};
      slot.task = make(j, *slot.pending);
      resume(slot);
      active.push_back(std::move(slot));
    }
    // The iterations that ended leave; the others wait for costs.
    for (std::size_t i = 0; i < active.size();) {
      if (active[i].task.Done()) {
        finish(active[i].j, active[i].task);
        active.erase(active.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
    if (active.empty()) {
      if (!more) return;
      continue;
    }
    try {
      model.Evaluate(queries.data(), filled, costs.data());
      for (Slot& slot : active) slot.pending->costs = costs.data() + slot.at;
    } catch (...) {
      // Each iteration's queries alone, to tell which of them raise.
      for (Slot& slot : active) {
        PendingCosts& pending = *slot.pending;
        try {
          model.Evaluate(pending.queries, pending.count, pending.ownCosts);
        } catch (...) {
          pending.error = std::current_exception();
        }
        pending.costs = pending.ownCosts;
      }
    }
    filled = 0;
    for (Slot& slot : active) resume(slot);
  }
}

// Runs outer iterations 1 … count on `workers` threads, the calling
// thread calling `progress` every quarter of a second until they are done. An iteration after
// one that failed is not started: the sequential run would never have reached it.
void RunInParallel(int count, int workers, const RefinementCostModel& model,
                   const std::function<IterationTask(int, PendingCosts&)>& make,
                   const std::function<void()>& progress, std::vector<IterationOutcome>& outcomes) {
  std::atomic<int> nextIndex{0};
  std::atomic<int> firstFailure{count};
  std::mutex mutex;
  std::condition_variable finished;
  int running = 0;
  const auto next = [&]() -> int {
    const int i = nextIndex.fetch_add(1);
    if (i >= count || i > firstFailure.load()) return 0;
    return i + 1;
  };
  const auto finish = [&](int j, IterationTask& task) {
    const int i = j - 1;
    if (task.Promise().error) {
      outcomes[i].error = task.Promise().error;
      int failure = firstFailure.load();
      while (i < failure && !firstFailure.compare_exchange_weak(failure, i)) {
      }
    } else {
      outcomes[i].result = task.Promise().result;
    }
  };
  const auto work = [&] {
    try {
      RunLockstep(model, next, make, finish);
    } catch (...) {
      // Only an allocation can fail here; the iteration it belonged to is reported as failed.
      firstFailure.store(-1);
    }
    std::lock_guard<std::mutex> lock(mutex);
    --running;
    finished.notify_one();
  };

  std::vector<std::thread> pool;
  struct Joiner {
    std::vector<std::thread>& pool;
    ~Joiner() {
      for (std::thread& t : pool) t.join();
    }
  } joiner{pool};
  for (int w = 0; w < workers; ++w) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++running;
    }
    try {
      pool.emplace_back(work);
    } catch (const std::system_error&) {
      std::lock_guard<std::mutex> lock(mutex);
      --running;
      break;  // the threads already started take every iteration
    }
  }
  if (pool.empty()) {
    work();  // no thread could be started: all on this one
  } else {
    try {
      if (progress) progress();
      std::unique_lock<std::mutex> lock(mutex);
      while (running > 0) {
        if (!finished.wait_for(lock, std::chrono::milliseconds(250),
                               [&] { return running == 0; })) {
          lock.unlock();
          if (progress) progress();  // the calling thread's window repaints here
          lock.lock();
        }
      }
    } catch (...) {
      firstFailure.store(-1);  // the workers start nothing more; the joiner waits for the rest
      throw;
    }
  }
  if (firstFailure.load() < 0) throw std::bad_alloc();
}

}  // namespace

double RefinementCost(const VT_Points& imagePoints, const VT_Points& scenePoints, double Al,
                      double Bet, double Hi, double F, double L) {
  const ProjectionTerms t = MakeProjectionTerms(Al, Bet, Hi, F, L);
  double cost = 0;
  for (std::int32_t i = 0; i < imagePoints.Count(); ++i) {
    const VT_Point& image = *imagePoints.Get(i);
    const VT_Point& scene = *scenePoints.Get(i);
    double ex, ey;
    ReprojectionError(t, scene.x, scene.y, image.x, image.y, ex, ey);
    cost = cost + (std::fabs(ex) + std::fabs(ey));
  }
  // An overflow in any term leaves the sum infinite or invalid.
  return Finite(cost, "overflow in the refinement cost");
}

double WrapTilt(double value, double offset) {
  double v = value + offset;
  if (v < -kTiltBound) v = -2 * kTiltBound - v;
  if (v > kTiltBound) v = 2 * kTiltBound - v;
  return v;
}

double WrapTurn(double value, double offset) {
  double v = value + offset;
  if (v < -std::numbers::pi) v = v + std::numbers::pi;
  if (v > std::numbers::pi) v = v - std::numbers::pi;
  return v;
}

double MoveDistance(double value, double offset) { return value + offset; }

void SearchParameter(PoseParameters& p, double PoseParameters::*member, MoveFunction move,
                     double startStep, double finalOffset, double shrinkPercent,
                     const RefinementCostModel& cost) {
  long moves = 0;
  KnownCost atP;
  SearchCosts costs;
  LineSearch search;
  search.Start(p, {member, move, startStep, finalOffset, shrinkPercent}, atP, moves, costs);
  while (search.Running()) {
    CostQuery queries[3];
    double evaluated[3];
    const int count = search.Queries(queries);
    cost.Evaluate(queries, count, evaluated);
    search.Advance(evaluated);
  }
}

std::string RefinementValueLine(const PoseParameters& p, double cost, char decimalSeparator) {
  const char* const kSeparator = "  ;  ";
  return FormatFixed4(ToDegrees(p.Al), decimalSeparator) + kSeparator +
         FormatFixed4(ToDegrees(p.Bet), decimalSeparator) + kSeparator +
         FormatFixed4(ToDegrees(p.Hi), decimalSeparator) + kSeparator +
         FormatFixed4(p.L, decimalSeparator) + kSeparator + FormatFixed4(cost, decimalSeparator);
}

std::string ComputationTimeLine(std::chrono::system_clock::duration elapsed) {
  long long seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  if (seconds < 0) seconds = 0;
  std::tm t{};
  t.tm_hour = static_cast<int>(seconds / 3600);
  t.tm_min = static_cast<int>(seconds / 60 % 60);
  t.tm_sec = static_cast<int>(seconds % 60);
  char text[64] = {};
  std::strftime(text, sizeof text, "%X", &t);
  return std::string("Время счета: ") + text;
}

const TResStruct& ChooseResult(const std::vector<TResStruct>& results) {
  double threshold = results.back().Cost + 1;
  const TResStruct* choice = nullptr;
  for (const TResStruct& r : results) {
    if (r.Cost < threshold) {
      choice = &r;
      threshold = r.Cost;
    }
  }
  if (choice == nullptr) {
    choice = &results.front();
    for (const TResStruct& r : results)
      if (r.Cost < choice->Cost) choice = &r;
  }
  return *choice;
}

void AppendRefinementSummary(std::vector<std::string>& log, const TResStruct& choice,
                             const RefinementSettings& settings, char sep,
                             std::chrono::system_clock::duration elapsed) {
  log.push_back("");
  log.push_back("Результат уточнения:");
  log.push_back(
      RefinementValueLine({choice.Al, choice.Bet, choice.Hi, choice.L}, choice.Cost, sep));
  log.push_back("");
  log.push_back("Параметры счета:");
  const struct {
    const char* title;
    double start, final;
  } angles[3] = {{"Поворот вокруг поперечной оси:", settings.AlStart, settings.AlMin},
                 {"Поворот вокруг орбитальной оси:", settings.BetStart, settings.BetMin},
                 {"Поворот вокруг оптической оси:", settings.HiStart, settings.HiMin}};
  for (const auto& a : angles) {
    log.push_back(a.title);
    log.push_back("  Начальное смещение:" + FormatFixed4(ToDegrees(a.start), sep));
    log.push_back("  Конечное смещение:" + FormatGeneral(ToDegrees(a.final), sep));
  }
  log.push_back("Расстояние:");
  log.push_back("  Начальное смещение:" + FormatFixed4(settings.LStart, sep));
  log.push_back("  Конечное смещение:" + FormatGeneral(settings.LMin, sep));
  log.push_back("Количество итераций:" + std::to_string(settings.IterCount));
  log.push_back(ComputationTimeLine(elapsed));
}

void Refine(double& Al, double& Bet, double& Hi, double& Distance, RefinementContext& context) {
  if (context.cost == nullptr || context.settings == nullptr)
    throw ZelvError("the refinement has no cost or settings");
  const RefinementCostModel& cost = *context.cost;
  RefinementSettings& settings = *context.settings;
  const char sep = context.decimalSeparator;
  const int level = settings.EstimateLevel;
  const bool keepLog = settings.KeepLog;
  const PoseParameters given{Al, Bet, Hi, Distance};
  const int iterations = level == 1 ? 1 : kPreciseIterations;
  CheckFinalOffsets(iterations, level, settings, given.L);

  std::vector<std::string> log;
  const double cInit = cost.Cost(given);
  if (keepLog) {
    log.push_back("Начальное приближение:");
    log.push_back(RefinementValueLine(given, cInit, sep));
  }

  // At level 3 the settings show the start offsets of the iteration that ran last (or failed).
  const auto showStartOffsets = [&](int j) {
    if (level != 3) return;
    settings.LStart = j;
    const double degrees = ToRadians(j);
    settings.AlStart = degrees;
    settings.BetStart = degrees;
    settings.HiStart = degrees;
  };
  const RefinementSettings& constSettings = settings;
  std::vector<IterationOutcome> outcomes(static_cast<std::size_t>(iterations));
  // Every outer iteration starts from the given values, whose cost is known.
  const auto makeIteration = [&](int j, PendingCosts& pending,
                                 const std::function<void()>& progress) {
    return OuterIteration(given, cInit, StepsOf(j, level, constSettings, given.L), constSettings,
                          progress, keepLog && level == 1 ? &outcomes[j - 1].log : nullptr, sep,
                          pending);
  };

  int threads =
      context.threads > 0 ? context.threads : static_cast<int>(std::thread::hardware_concurrency());
  threads = std::min(threads, iterations);
  if (threads <= 1) {
    // On the calling thread, with progress at every round of every iteration.
    int next = 0;
    int failed = 0;
    RunLockstep(
        cost, [&] { return failed == 0 && next < iterations ? ++next : 0; },
        [&](int j, PendingCosts& pending) { return makeIteration(j, pending, context.progress); },
        [&](int j, IterationTask& task) {
          if (task.Promise().error) {
            outcomes[j - 1].error = task.Promise().error;
            if (failed == 0 || j < failed) failed = j;
          } else {
            outcomes[j - 1].result = task.Promise().result;
          }
        });
  } else {
    RunInParallel(
        iterations, threads, cost,
        [&](int j, PendingCosts& pending) { return makeIteration(j, pending, nullptr); },
        context.progress, outcomes);
  }
  // The sequential run would have stopped at the first failing iteration.
  for (int j = 1; j <= iterations; ++j) {
    if (outcomes[j - 1].error) {
      showStartOffsets(j);
      std::rethrow_exception(outcomes[j - 1].error);
    }
  }
  showStartOffsets(iterations);

  std::vector<TResStruct> results;
  for (int j = 1; j <= iterations; ++j) {
    const IterationOutcome& outcome = outcomes[j - 1];
    if (keepLog && level == 3)
      log.push_back("Номер итерации по начальным шагам - " + std::to_string(j));
    log.insert(log.end(), outcome.log.begin(), outcome.log.end());
    const TResStruct& r = outcome.result;
    if (keepLog && level == 3)
      log.push_back(RefinementValueLine({r.Al, r.Bet, r.Hi, r.L}, r.Cost, sep));
    results.push_back(r);
  }

  const TResStruct* choice = &ChooseResult(results);

  if (keepLog) {
    AppendRefinementSummary(log, *choice, settings, sep,
                            std::chrono::system_clock::now() - context.startTime);
    if (context.writeLog) context.writeLog(log);
  }

  Al = choice->Al;
  Bet = choice->Bet;
  Hi = choice->Hi;
  Distance = choice->L;
}

}  // namespace zelv
