# Result codes belong to the portable core; the document jobs are Windows-only.
set(RESULT_SOURCES jobs/result_codes.cpp)
set(JOBS_SOURCES jobs/document_jobs.cpp)
