# The global thread pool held busy while a test asks for work (header only).
target_sources(km4TestSupport PRIVATE ${CMAKE_CURRENT_LIST_DIR}/heldpool.h)
