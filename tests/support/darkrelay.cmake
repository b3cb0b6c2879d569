# A loopback relay in front of a server that can go dark without closing anything.
target_sources(km4Loopback PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/darkrelay.h
    ${CMAKE_CURRENT_LIST_DIR}/darkrelay.cpp)
