#pragma once
// Round numbers for a chart's value axis: ticks 1, 2 or 5 times a power of
// ten apart, so a drummer reads 95, 100, 105 rather than 98, 105, 112.
// Standard C++ only; any thread.

struct AxisScale {
    double minimum = 0.0;
    double maximum = 1.0;
    double step = 1.0; // minimum and maximum are whole steps from 0
};

// The step of 1, 2 or 5 times a power of ten that cuts `range` into at most
// about `ticks` pieces; 1 for an empty range.
double niceStep(double range, int ticks);

// The smallest scale of whole steps that holds low..high with about `ticks`
// steps. An empty range (low == high) gets one step either side. With
// wholeSteps (counts), the step is never below 1.
AxisScale niceScale(double low, double high, int ticks, bool wholeSteps);
