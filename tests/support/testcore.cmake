# A whole core over a fresh database, pointed at the server double (header only).
target_sources(km4TestSupport PRIVATE ${CMAKE_CURRENT_LIST_DIR}/testcore.h)
