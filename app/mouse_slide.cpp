// Mouse slide history, release speed and slide path.
#include "app/mouse_slide.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "numerics/one_based.h"
#include "platform/system.h"

namespace tarmic {

bool bMouseSlidingOff = true;
bool bMouseBouncing = true;
float fMouseSlideSpeed = 0.0f;

namespace {

constexpr int kHistorySize = 8;
constexpr float kFriction = -2000.0f;        // deceleration against the motion, pixels/s^2
constexpr float kLimitPull = 20000.0f;       // pull towards a limit that was hit, pixels/s^2
constexpr float kBounceKeep = 0.7f;          // a bounce keeps 1 - 0.3 of the speed, reversed
constexpr float kTimeStep = 0.005f;          // seconds per frame
constexpr float kMaxRestInterval = 0.3f;     // seconds between the last two records
// Upper bound of the frames of one slide (200 s at 5 ms): a wild speed estimate
// must not allocate without limit.
constexpr int kMaxFrames = 40001;

struct Record {
  int x;
  int y;
  std::int64_t ms;
};

Record g_history[kHistorySize];
int g_count = 0;
// Seconds between the two newest records at the last speed estimate; -1 before.
float g_lastInterval = -1.0f;

}  // namespace

void ResetMouseSlideHistory() {
  if (bMouseSlidingOff) return;
  g_count = 0;
}

void RecordMouseSlidePoint(const Point* p) {
  if (bMouseSlidingOff || !p) return;
  const Record r{p->x, p->y, MonotonicMs()};
  if (g_count < kHistorySize) {
    g_history[g_count++] = r;
  } else {
    for (int i = 1; i < kHistorySize; ++i) g_history[i - 1] = g_history[i];
    g_history[kHistorySize - 1] = r;
  }
}

float CalculateMouseSlideSpeed() {
  if (bMouseSlidingOff || g_count < 2) return 0.0f;
  const int n = g_count;
  g_lastInterval = static_cast<float>(g_history[n - 1].ms - g_history[n - 2].ms) * 0.001f;
  if (g_lastInterval > kMaxRestInterval) {
    fMouseSlideSpeed = 0.0f;
    return 0.0f;
  }

  // Least-squares parabola x = a + b t + c t^2 through the records; the speed is
  // its slope b + 2 c t_n at the newest record. With the means mx, mt, mt2 of x,
  // t, t^2 the two straight-line regressions on t give
  //   b0 = Sxt / Stt,  g = S(t^2)t / Stt,
  // and the parts of x and t^2 that the line does not explain give
  //   c = sum rx rq / sum rq^2,  b = b0 - c g.
  // Carried in double: the sums of squares of millisecond-scale times lose their
  // significant digits in single precision.
  double t[kHistorySize], x[kHistorySize];
  double mt = 0, mx = 0, mt2 = 0;
  for (int i = 0; i < n; ++i) {
    t[i] = static_cast<double>(g_history[i].ms - g_history[0].ms) * 0.001;
    x[i] = g_history[i].x;
    mt += t[i];
    mx += x[i];
    mt2 += t[i] * t[i];
  }
  mt /= n;
  mx /= n;
  mt2 /= n;
  double stt = 0, sxt = 0, sqt = 0;
  for (int i = 0; i < n; ++i) {
    const double dt = t[i] - mt;
    stt += dt * dt;
    sxt += (x[i] - mx) * dt;
    sqt += (t[i] * t[i] - mt2) * dt;
  }
  // Equal time stamps only: no speed can be told.
  int distinct = 1;
  for (int i = 1; i < n; ++i) {
    bool seen = false;
    for (int j = 0; j < i; ++j) seen = seen || g_history[j].ms == g_history[i].ms;
    if (!seen) ++distinct;
  }
  double speed = 0.0;
  if (distinct >= 2 && stt > 0.0) {
    const double b0 = sxt / stt;
    const double g = sqt / stt;
    speed = b0;
    // Three distinct times at least determine the parabola; with two the straight
    // line through the records is the estimate.
    if (distinct >= 3) {
      double srr = 0, sxr = 0;
      for (int i = 0; i < n; ++i) {
        const double dt = t[i] - mt;
        const double rx = (x[i] - mx) - b0 * dt;
        const double rq = (t[i] * t[i] - mt2) - g * dt;
        sxr += rx * rq;
        srr += rq * rq;
      }
      if (srr > 0.0) {
        const double c = sxr / srr;
        speed = (b0 - c * g) + 2.0 * c * t[n - 1];
      }
    }
  }
  fMouseSlideSpeed = std::isfinite(speed) ? static_cast<float>(speed) : 0.0f;
  return fMouseSlideSpeed;
}

bool CalculateMouseSlidePath(int** positions, float** steps, int* count, int minPos, int maxPos,
                             int startPos) {
  if (bMouseSlidingOff) return false;
  const float vr = CalculateMouseSlideSpeed();
  if (vr == 0.0f || minPos > maxPos) {
    if (positions) *positions = nullptr;
    if (steps) *steps = nullptr;
    if (count) *count = 0;
    return false;
  }

  // Twice the frames that friction alone needs to stop the release speed.
  const double frames = std::ceil((std::fabs(static_cast<double>(vr)) / 1000.0) / kTimeStep);
  const int n = frames * 2.0 + 1.0 > kMaxFrames ? kMaxFrames : static_cast<int>(frames) * 2 + 1;
  std::vector<int> pos(n + 1, 0);
  std::vector<float> step(n + 1, 0.0f);
  pos[1] = startPos;
  step[1] = 0.0f;

  float v = vr;
  float a = vr > 0 ? kFriction : -kFriction;
  float pull = 0.0f;
  bool limitHit = false;
  int restingLimit = 0;
  int last = n;
  for (int i = 2; i <= n; ++i) {
    float h = kTimeStep;
    // The speed would reach zero within the step: the step ends there.
    if (std::fabs(v) - std::fabs(a) * h < 0.0f) h = std::fabs(v) / std::fabs(a);
    step[i] = h;
    if (h < 1e-6f) h = 0.0f;
    // Whole pixels, rounded away from zero.
    float exact = v * h;
    if (exact > 1e9f) exact = 1e9f;
    if (exact < -1e9f) exact = -1e9f;
    int d = static_cast<int>(v > 0 ? std::ceil(exact) : std::floor(exact));
    bool hit = false;
    if (static_cast<long>(pos[i - 1]) + d < minPos || static_cast<long>(pos[i - 1]) + d > maxPos) {
      const int limit = static_cast<long>(pos[i - 1]) + d < minPos ? minPos : maxPos;
      d = limit - pos[i - 1];
      v = -kBounceKeep * v;
      hit = true;
      if (!limitHit) {
        limitHit = true;
        restingLimit = limit;
        if (bMouseBouncing) pull = limit == minPos ? -kLimitPull : kLimitPull;
      }
    }
    pos[i] = pos[i - 1] + d;
    if (v > 0) a = kFriction;
    else if (v < 0) a = -kFriction;
    v = v + (a + pull) * h;
    bool end;
    if (bMouseBouncing && limitHit) {
      end = std::abs(pos[i] - restingLimit) < 3 && std::abs(d) <= 1 && std::fabs(v) <= 10.0f;
    } else {
      end = (!hit && d == 0) || std::fabs(v) <= 1.0f;
    }
    if (end) {
      last = i;
      break;
    }
  }
  for (int i = last + 1; i <= n; ++i) {
    pos[i] = 0;
    step[i] = 0.0f;
  }

  // Cut the resting tail: the first frame whose next ten positions stay put.
  for (int k = 1; k <= last; ++k) {
    if (!(step[k] > 0.0f)) continue;
    bool still = true;
    for (int j = k + 1; j <= k + 10 && j <= n; ++j) still = still && pos[j] == pos[k];
    if (still) {
      last = k;
      break;
    }
  }

  int* outPos = ivector(1, last);
  float* outStep = vector(1, last);
  for (int k = 1; k <= last; ++k) {
    outPos[k] = pos[k];
    outStep[k] = step[k];
  }
  if (positions) *positions = outPos;
  else free_ivector(outPos, 1, last);
  if (steps) *steps = outStep;
  else free_vector(outStep, 1, last);
  if (count) *count = last;
  return true;
}

void ResetMouseSlide() {
  bMouseSlidingOff = true;
  bMouseBouncing = true;
  fMouseSlideSpeed = 0.0f;
  g_count = 0;
  g_lastInterval = -1.0f;
}

}  // namespace tarmic
