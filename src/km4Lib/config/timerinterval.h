#pragma once

// Timer periods come from server-supplied configuration, where a missing key reads as 0. A timer
// with an interval of 0 or less would fire on every pass of the event loop, so such a value falls
// back to the compiled default.
class TimerInterval
{
public:
    static int orDefault(int configuredMs, int defaultMs)
    {
        return configuredMs > 0 ? configuredMs : defaultMs;
    }
};
