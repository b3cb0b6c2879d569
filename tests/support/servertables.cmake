# The server's tables, answered as a real server does: only the rows changed after "updated_after".
target_sources(km4Loopback PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/servertables.h
    ${CMAKE_CURRENT_LIST_DIR}/servertables.cpp)
