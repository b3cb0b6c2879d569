target_sources(km4TestSupport PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/mosquittobroker.h
    ${CMAKE_CURRENT_LIST_DIR}/mosquittobroker.cpp)
