// Points and rectangles with the CoreGraphics rules for reading them.
#pragma once

namespace platform {

struct CGPoint {
    double x = 0;
    double y = 0;
};

struct CGRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const CGRect&) const = default;
};

// A rectangle's geometry as CoreGraphics reads it: a negative width or height counts from the other
// edge, so width and height are never negative and the minimum edges are the smaller coordinates.
double CGRectGetMinX(const CGRect& r);
double CGRectGetMinY(const CGRect& r);
double CGRectGetMaxX(const CGRect& r);
double CGRectGetMaxY(const CGRect& r);
double CGRectGetWidth(const CGRect& r);
double CGRectGetHeight(const CGRect& r);
// minX <= x < maxX and minY <= y < maxY: the maximum edges are not contained.
bool CGRectContainsPoint(const CGRect& r, const CGPoint& p);
// The common part of two rectangles; the empty rectangle (zero size) when they do not overlap or a
// coordinate is not a number.
CGRect CGRectIntersection(const CGRect& a, const CGRect& b);
// The smallest rectangle with whole-number edges that holds `r` (edges rounded outward).
CGRect CGRectIntegral(const CGRect& r);

}  // namespace platform
