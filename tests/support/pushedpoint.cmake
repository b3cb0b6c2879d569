# A board's push client over a fresh database, with a real broker of its own (header only).
target_sources(km4TestSupport PRIVATE ${CMAKE_CURRENT_LIST_DIR}/pushedpoint.h)
