set(APP_SOURCES app/app_placeholder.cpp)
