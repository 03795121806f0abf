#pragma once
// The pictures of the slideshow movie: every image becomes a movie-sized slide on black, and a
// slide comes in and goes with up to seven transition frames built from the chosen effects.

#include "engine/pximage.h"

#include <QString>
#include <QStringList>
#include <vector>

enum class TransitionMode { Appear, Disappear };

// Number of frames of one transition.
inline constexpr int kTransitionFrames = 7;

// The effect names of a record's list ("Lighten,Zoom in"), in lower case.
QStringList SplitEffects(const QString &list);

// Makes image a width x height slide: a larger image is shrunk to fit, then it is centred on
// black; the result has 24 bits per pixel.
bool Letterbox(PxImage &image, int width, int height);

// Frame i (0 to 6) of the transition of a movie-sized slide: the chosen effects applied in their
// fixed order (lighten, darken, rotation, zoom in, zoom out, the moves). effects are lower case.
bool RenderTransitionFrame(const PxImage &slide, TransitionMode mode, const QStringList &effects,
                           int width, int height, int i, PxImage &frame);

// Draws image unscaled with its top-left corner at (x, y) (counted from the top) on a black
// width x height canvas, which becomes result; whatever falls outside is clipped.
bool DrawOnBlack(const PxImage &image, int x, int y, int width, int height, PxImage &result);
