# A recording JavaScript callback in a real engine, for the flows QML dispatches.
target_sources(km4TestSupport PRIVATE ${CMAKE_CURRENT_LIST_DIR}/jscallback.h)
target_link_libraries(km4TestSupport PUBLIC Qt6::Qml)
