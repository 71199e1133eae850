#include "solver/refinement.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <exception>
#include <mutex>
#include <numbers>
#include <system_error>
#include <thread>

#include "base/number_text.h"
#include "base/zelv_error.h"
#include "solver/projection.h"

namespace zelv {
namespace {

// One of the four parameters as the rounds of a pass visit it.
struct ParameterSearch {
  double PoseParameters::*member;
  MoveFunction move;
  const char* heading;  // the log line before its search
  double startStep;     // this pass's start step
  double finalOffset;
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

// The last few costs of one line search, keyed on the bits of the varied parameter (the other
// three do not change during the search). The centre of a step is usually the probe the step
// before moved to, and a probe often falls exactly on an earlier centre.
class RecentCosts {
 public:
  bool Find(double v, double& cost) const {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    for (int i = 0; i < used_; ++i)
      if (keys_[i] == bits) {
        cost = costs_[i];
        return true;
      }
    return false;
  }
  void Add(double v, double cost) {
    keys_[next_] = std::bit_cast<std::uint64_t>(v);
    costs_[next_] = cost;
    next_ = next_ + 1 == kSize ? 0 : next_ + 1;
    if (used_ < kSize) ++used_;
  }

 private:
  static constexpr int kSize = 4;
  std::uint64_t keys_[kSize];
  double costs_[kSize];
  int used_ = 0, next_ = 0;
};

// The line search of SearchParameter; `moves` counts the steps of the whole outer iteration and
// `atP` holds the cost at `p`, on entry and on return, when it is known.
void LineSearch(PoseParameters& p, double PoseParameters::*member, MoveFunction move,
                double startStep, double finalOffset, double shrinkPercent,
                const RefinementCostModel& model, long& moves, KnownCost& atP) {
  double s = startStep;
  if (!(s > finalOffset)) return;
  RecentCosts recent;
  if (atP.known) recent.Add(p.*member, atP.cost);
  while (s > finalOffset) {
    if (++moves > kMaxMovesPerIteration) throw ZelvError("the refinement does not settle");
    // The centre, the lower probe and the upper probe (reached from the lower one by +2s, as
    // the parameter walks there) are known before any of them is evaluated; the ones not
    // evaluated before are evaluated together.
    const double lower = move(p.*member, -s);
    const double upper = move(lower, 2 * s);
    const double values[3] = {p.*member, lower, upper};
    double c[3];
    PoseParameters missing[3];
    std::uint64_t missingBits[3];
    int source[3];  // where c[i] comes from: -1 known, otherwise an index into `missing`
    int missingCount = 0;
    for (int i = 0; i < 3; ++i) {
      source[i] = -1;
      if (recent.Find(values[i], c[i])) continue;
      const std::uint64_t bits = std::bit_cast<std::uint64_t>(values[i]);
      for (int m = 0; m < missingCount; ++m)
        if (missingBits[m] == bits) source[i] = m;  // a step too small to change the value
      if (source[i] >= 0) continue;
      missing[missingCount] = p;
      missing[missingCount].*member = values[i];
      missingBits[missingCount] = bits;
      source[i] = missingCount++;
    }
    if (missingCount > 0) {
      double evaluated[3];
      model.Costs(missing, missingCount, evaluated);
      for (int m = 0; m < missingCount; ++m) recent.Add(missing[m].*member, evaluated[m]);
      for (int i = 0; i < 3; ++i)
        if (source[i] >= 0) c[i] = evaluated[source[i]];
    }
    const double c0 = c[0], cMinus = c[1], cPlus = c[2];
    double& current = p.*member;
    if (cPlus >= c0 && cMinus >= c0) {
      current = move(upper, -s);
      s = s * shrinkPercent * 0.01;
    } else if (cPlus > c0 && cMinus < c0) {
      current = move(upper, -2 * s);
    } else if (cPlus < c0 && cMinus < c0 && cPlus > cMinus) {
      current = move(upper, -2 * s);
    } else {
      current = upper;  // the upper probe is kept with the same step
    }
  }
  atP.known = recent.Find(p.*member, atP.cost);
}

// One outer iteration: three passes of rounds over Bet, Al, the distance and Hi. Writes the pass,
// round, heading and value lines to `log` when it is not null. Returns where it ended and the
// cost there.
TResStruct RunOuterIteration(const PoseParameters& start, double startCost,
                             const IterationSteps& steps, const RefinementSettings& settings,
                             const RefinementCostModel& model,
                             const std::function<void()>& progress, std::vector<std::string>* log,
                             char decimalSeparator) {
  PoseParameters p = start;
  KnownCost atP{true, startCost};
  double cLast = 0;
  long moves = 0;
  for (int w = 0; w < 3; ++w) {
    const double k = kShrinkPercent[w];
    const double factor = kStepFactor[w];
    const ParameterSearch order[4] = {
        {&PoseParameters::Bet, WrapTilt,
         "Уточнение решения по углу поворота сцены вокруг орбитальной оси", factor * steps.bet,
         settings.BetMin},
        {&PoseParameters::Al, WrapTilt,
         "Уточнение решения по углу поворота сцены вокруг поперечной оси", factor * steps.al,
         settings.AlMin},
        {&PoseParameters::L, MoveDistance, "Уточнение решения по расстоянию",
         factor * steps.distance, steps.distanceFinal},
        {&PoseParameters::Hi, WrapTurn, "Уточнение решения по углу поворота изображения",
         factor * steps.hi, settings.HiMin},
    };
    if (log)
      log->push_back(std::to_string(w + 1) + "-й проход. " + std::to_string(static_cast<int>(k)) +
                     "%.");
    double best = 1000000000000000.0;
    double previous = 0;
    int stale = 0;
    int round = 0;
    // Rounds without a single step leave the cost as it was and so end the pass by staleness;
    // every other round counts against kMaxMovesPerIteration.
    while (stale <= 3) {
      if (log) log->push_back("Номер итерации - " + std::to_string(round + 1));
      if (progress) progress();
      for (const auto& item : order) {
        if (log) log->push_back(item.heading);
        LineSearch(p, item.member, item.move, item.startStep, item.finalOffset, k, model, moves,
                   atP);
        if (!atP.known) atP = {true, model.Cost(p)};
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
  return {p.Al, p.Bet, p.Hi, p.L, cLast};
}

// What one outer iteration left: its outcome and log lines, or the error it raised.
struct IterationOutcome {
  TResStruct result;
  std::vector<std::string> log;
  std::exception_ptr error;
};

// Runs outer iterations 1 … count on `workers` threads, the calling
// thread calling `progress` every quarter of a second until they are done. An iteration after
// one that failed is not started: the sequential run would never have reached it.
void RunInParallel(int count, int workers, const std::function<void(int, IterationOutcome&)>& run,
                   const std::function<void()>& progress, std::vector<IterationOutcome>& outcomes) {
  std::atomic<int> next{0};
  std::atomic<int> firstFailure{count};
  std::mutex mutex;
  std::condition_variable finished;
  int running = 0;
  const auto work = [&] {
    for (;;) {
      const int i = next.fetch_add(1);
      if (i >= count || i > firstFailure.load()) break;
      try {
        run(i + 1, outcomes[i]);
      } catch (...) {
        outcomes[i].error = std::current_exception();
        int failure = firstFailure.load();
        while (i < failure && !firstFailure.compare_exchange_weak(failure, i)) {
        }
      }
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
    return;
  }
  try {
    if (progress) progress();
    std::unique_lock<std::mutex> lock(mutex);
    while (running > 0) {
      if (!finished.wait_for(lock, std::chrono::milliseconds(250), [&] { return running == 0; })) {
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
  LineSearch(p, member, move, startStep, finalOffset, shrinkPercent, cost, moves, atP);
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
  // Every outer iteration starts from the given values, whose cost is known.
  const auto runIteration = [&](int j, IterationOutcome& outcome,
                                const std::function<void()>& progress) {
    outcome.result =
        RunOuterIteration(given, cInit, StepsOf(j, level, constSettings, given.L), constSettings,
                          cost, progress, keepLog && level == 1 ? &outcome.log : nullptr, sep);
  };

  std::vector<IterationOutcome> outcomes(static_cast<std::size_t>(iterations));
  int threads =
      context.threads > 0 ? context.threads : static_cast<int>(std::thread::hardware_concurrency());
  threads = std::min(threads, iterations);
  if (threads <= 1) {
    // On the calling thread, in order: progress at every round.
    for (int j = 1; j <= iterations; ++j) {
      showStartOffsets(j);
      runIteration(j, outcomes[j - 1], context.progress);
    }
  } else {
    RunInParallel(
        iterations, threads,
        [&](int j, IterationOutcome& outcome) { runIteration(j, outcome, nullptr); },
        context.progress, outcomes);
    // The sequential run would have stopped at the first failing iteration.
    for (int j = 1; j <= iterations; ++j) {
      if (outcomes[j - 1].error) {
        showStartOffsets(j);
        std::rethrow_exception(outcomes[j - 1].error);
      }
    }
    showStartOffsets(iterations);
  }

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
