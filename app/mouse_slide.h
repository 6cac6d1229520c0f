// Mouse sliding: a position dragged along the x axis with the left button keeps
// moving after the release, slowed by friction, and bounces off the plot's limits.
// The history of the last mouse positions during the drag gives the release
// speed; the whole slide is computed in advance as frames of pixel positions with
// the time step of each.
#pragma once

#include "platform/types.h"

namespace tarmic {

// Sliding is off while set (the start). The "MOUSE SLIDING" command switches it.
extern bool bMouseSlidingOff;
// With bouncing a slide that hits a limit is pulled back to it and comes to rest
// there.
extern bool bMouseBouncing;
// The last release speed computed, pixels per second along x.
extern float fMouseSlideSpeed;

// Empties the history (when sliding is on). Called when the left button goes down.
void ResetMouseSlideHistory();
// Adds a position with the current clock time (when sliding is on); the history
// keeps the newest 8.
void RecordMouseSlidePoint(const Point* p);
// The release speed along x in pixels per second: the slope at the newest record
// of the least-squares parabola x(t) through the history; the straight line when
// the parabola is not determined (fewer than three distinct times); 0 when sliding
// is off, with fewer than two records or times, or when the mouse rested more than
// 0.3 s before the release.
float CalculateMouseSlideSpeed();
// Computes the slide of an x position from startPos within minPos..maxPos. On
// success *positions[1..count] (pixels) and *steps[1..count] (seconds from the
// previous frame; steps[1] = 0) are new one-based arrays (ivector, vector) that the
// caller releases with free_ivector and free_vector over 1..count, and the result
// is true. When sliding is off the result is false and the outputs are left
// alone; when there is no speed (or minPos > maxPos) they are set to null and 0.
bool CalculateMouseSlidePath(int** positions, float** steps, int* count, int minPos, int maxPos,
                             int startPos);

// Back to the start: sliding off, bouncing on, no history, no speed.
void ResetMouseSlide();

}  // namespace tarmic
