target_sources(torvane_engine PRIVATE Watermark.cpp Placement.cpp)
