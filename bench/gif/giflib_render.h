/* The giflib render program's work, callable in process: 1 on success. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif
int GiflibRender(const char* in, const char* out, int durable);
#ifdef __cplusplus
}
#endif
