# Loopback double of the point-of-sale server and the time-zone service.
target_sources(km4Loopback PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/recordedrequest.h
    ${CMAKE_CURRENT_LIST_DIR}/fakeserver.h
    ${CMAKE_CURRENT_LIST_DIR}/fakeserver.cpp)
