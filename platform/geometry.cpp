#include "platform/geometry.h"

#include <algorithm>
#include <cmath>

namespace platform {

double CGRectGetMinX(const CGRect& r) {
    return r.width < 0 ? r.x + r.width : r.x;
}
double CGRectGetMinY(const CGRect& r) {
    return r.height < 0 ? r.y + r.height : r.y;
}
double CGRectGetMaxX(const CGRect& r) {
    return r.width < 0 ? r.x : r.x + r.width;
}
double CGRectGetMaxY(const CGRect& r) {
    return r.height < 0 ? r.y : r.y + r.height;
}
double CGRectGetWidth(const CGRect& r) {
    return std::fabs(r.width);
}
double CGRectGetHeight(const CGRect& r) {
    return std::fabs(r.height);
}

bool CGRectContainsPoint(const CGRect& r, const CGPoint& p) {
    return CGRectGetMinX(r) <= p.x && p.x < CGRectGetMaxX(r) && CGRectGetMinY(r) <= p.y &&
           p.y < CGRectGetMaxY(r);
}

CGRect CGRectIntersection(const CGRect& a, const CGRect& b) {
    double minX = std::max(CGRectGetMinX(a), CGRectGetMinX(b));
    double minY = std::max(CGRectGetMinY(a), CGRectGetMinY(b));
    double maxX = std::min(CGRectGetMaxX(a), CGRectGetMaxX(b));
    double maxY = std::min(CGRectGetMaxY(a), CGRectGetMaxY(b));
    // Written so that a NaN anywhere also gives the empty rectangle.
    if (!(minX < maxX) || !(minY < maxY)) return CGRect{};
    return CGRect{minX, minY, maxX - minX, maxY - minY};
}

CGRect CGRectIntegral(const CGRect& r) {
    double minX = std::floor(CGRectGetMinX(r));
    double minY = std::floor(CGRectGetMinY(r));
    double maxX = std::ceil(CGRectGetMaxX(r));
    double maxY = std::ceil(CGRectGetMaxY(r));
    return CGRect{minX, minY, maxX - minX, maxY - minY};
}

}  // namespace platform
