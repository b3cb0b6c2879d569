target_sources(km4Loopback PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/mosquittobroker.h
    ${CMAKE_CURRENT_LIST_DIR}/mosquittobroker.cpp)
