# The editor's document jobs: open and save on a worker thread (Windows only).
set(JOBS_SOURCES jobs/document_jobs.cpp)
