target_sources(km4TestSupport PRIVATE ${CMAKE_CURRENT_LIST_DIR}/testdatabase.h)
