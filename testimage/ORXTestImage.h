// Synthetic pictures for the demo, the tests and the benchmarks, and the
// PSNR measure used to judge a round trip.
#pragma once

#include <cstdint>

// Fills a width x height 32-bit ARGB image (bytes A, R, G, B; alpha 255):
// smooth gradients, soft shaded discs, hard-edged shapes, fine line and
// checker detail and a noise texture. frame shifts the content, so a
// sequence of frames shows motion. rowBytes 0 means 4 * width.
void ORXMakeTestImageARGB(uint8_t* dest, int width, int height, int rowBytes, int frame);

// Adds camera-like grain: every R, G, B byte moves by up to +-amplitude
// (deterministic for a seed). Camera footage has no perfectly flat areas.
void ORXAddGrainARGB(uint8_t* dest, int width, int height, int rowBytes, int amplitude, uint32_t seed);

// Peak signal-to-noise ratio in dB over the R, G and B bytes of two ARGB
// images; +infinity when they are identical.
double ORXPSNR_ARGB(const uint8_t* a, int rowBytesA, const uint8_t* b, int rowBytesB, int width,
                    int height);
