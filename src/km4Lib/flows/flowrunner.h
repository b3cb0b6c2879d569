#pragma once

#include <QJSValue>

#include <memory>

class IFlow;

// Runs a flow and hands its result to the QML callback. Whatever the flow does (answers, fails,
// throws, is cancelled), the callback is called exactly once, on the application object's thread,
// and the flow is deleted exactly once, after its work is over.
class FlowRunner
{
public:
    static void start(std::unique_ptr<IFlow> flow, QJSValue callback);
};
