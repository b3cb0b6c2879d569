# An answer of the server double that waits until the test lets it go (header only).
target_sources(km4TestSupport PRIVATE ${CMAKE_CURRENT_LIST_DIR}/heldanswer.h)
