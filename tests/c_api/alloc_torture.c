/* alloc_torture BASE_URL FAIL_AT
 *
 * Runs one fixed sequence of calls through the C interface against the fake
 * service at BASE_URL (http://127.0.0.1:PORT) with the allocation-failing
 * allocator armed to fail the FAIL_AT-th allocation of the process (0: fail
 * none, only count):
 *
 *   constructor, list_pairs, a quote for BTC/USDT, a look-up of an unknown
 *   pair (a not-found error), a quote stream on BTC/USDT with one recv,
 *   then the frees of every buffer, the stream and the client.
 *
 * Whatever fails, every call must come back with a value or an error value;
 * the process must neither die nor hang (the runner watches for both). The
 * line printed at the end names each step's outcome and the allocations
 * counted; the exit status sums it up:
 *
 *   0  every step gave its usual outcome
 *   1  a step ended with an error value (code 1 or 2) or the stream gave no
 *      quote: the failed allocation ended a call, as it may
 *   2  usage error
 *   3  a broken contract: a call claimed success without a usable result,
 *      or a not-found look-up succeeded
 *
 * Between arming and disarming the driver allocates nothing itself: its
 * buffers come from the library, its records live on the stack, and it
 * prints only after disarming. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ffi/include/zephlar.h"
#include "tests/support/failing_malloc.h"

/* Short enough that a call waiting on a lost answer ends well inside the
 * runner's time limit. */
static const double operation_timeout_secs = 5.0;
static const uint32_t max_retries = 1;
static const uint64_t cache_ttl_secs = 300;
static const double recv_timeout_secs = 5.0;

static const char pair_ticker[] = "BTC/USDT";
static const char unknown_pair_ticker[] = "NOPE/NONE";
static const int32_t not_found_variant = 6;

enum Outcome {
  not_run, /* an earlier step it needs did not give its result */
  usual,   /* the step's normal result */
  error,   /* an error value: code 1 or 2, or no quote from the stream */
  broken   /* a result that breaks the interface's contract */
};

static const char* const outcome_names[] = {"skipped", "ok", "error", "BROKEN"};

struct Step {
  const char* name;
  enum Outcome outcome;
  int8_t code;
  int32_t variant; /* of a code-1 error */
};

enum StepId {
  s_config,
  s_new,
  s_pairs,
  s_quote,
  s_lookup,
  s_stream,
  s_recv,
  s_free_stream,
  s_free_client,
  s_free_buffers,
  s_count
};

static struct Step steps[s_count] = {
    {"config", not_run, 0, 0},       {"new", not_run, 0, 0},         {"list_pairs", not_run, 0, 0},
    {"quote", not_run, 0, 0},        {"lookup", not_run, 0, 0},      {"stream", not_run, 0, 0},
    {"recv", not_run, 0, 0},         {"free_stream", not_run, 0, 0}, {"free_client", not_run, 0, 0},
    {"free_buffers", not_run, 0, 0},
};

/* Results kept until the end, so that the frees form a step of their own. */
static ZephlarByteBuffer results[8];
static int result_count = 0;
static int8_t worst_free_code = 0;

static ZephlarCallStatus fresh_status(void) {
  ZephlarCallStatus status;
  memset(&status, 0, sizeof status);
  return status;
}

static void free_buffer(ZephlarByteBuffer buffer) {
  ZephlarCallStatus status = fresh_status();
  if (buffer.data == NULL) return;
  ffi_zephlar_ffi_rustbuffer_free(buffer, &status);
  if (status.code != 0) {
    if (status.code > worst_free_code) worst_free_code = status.code;
    /* The error buffer of a failed free is a fresh one; give it back too. */
    if (status.error_buf.data != NULL) {
      ZephlarCallStatus again = fresh_status();
      ffi_zephlar_ffi_rustbuffer_free(status.error_buf, &again);
    }
  }
}

static void keep_result(ZephlarByteBuffer buffer) {
  if (buffer.data != NULL) results[result_count++] = buffer;
}

static uint32_t read_be32(const uint8_t* p) {
  return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

/* Records the status of a finished call in `step` and gives its error
 * buffer back. Returns non-zero when the call succeeded. */
static int settle(struct Step* step, ZephlarCallStatus* status) {
  step->code = status->code;
  if (status->code == 0) return 1;
  step->outcome = error;
  if (status->code == 1 && status->error_buf.len >= 4) step->variant = (int32_t)read_be32(status->error_buf.data);
  if (status->code != 1 && status->code != 2) step->outcome = broken;
  free_buffer(status->error_buf);
  return 0;
}

/* A JSON-text result: a 4-byte count and that many bytes, at least one. */
static enum Outcome check_json_text(ZephlarByteBuffer buffer) {
  if (buffer.data == NULL || buffer.len < 5) return broken;
  return read_be32(buffer.data) == buffer.len - 4 ? usual : broken;
}

/* A library buffer holding `size` bytes from `bytes`; {0} when it cannot be
 * had, and the step that needed it then ends with an error. */
static int library_bytes(const void* bytes, size_t size, ZephlarByteBuffer* out, struct Step* step) {
  ZephlarCallStatus status = fresh_status();
  ZephlarBorrowedBytes borrowed;
  borrowed.len = (int32_t)size;
  borrowed.data = (const uint8_t*)bytes;
  *out = ffi_zephlar_ffi_rustbuffer_from_bytes(borrowed, &status);
  if (!settle(step, &status)) return 0;
  if (out->len != size || (size > 0 && out->data == NULL)) {
    step->outcome = broken;
    return 0;
  }
  return 1;
}

static int library_text(const char* text, ZephlarByteBuffer* out, struct Step* step) {
  return library_bytes(text, strlen(text), out, step);
}

static size_t put_be(uint8_t* at, uint64_t value, int bytes) {
  int i;
  for (i = 0; i < bytes; ++i) at[i] = (uint8_t)(value >> (8 * (bytes - 1 - i)));
  return (size_t)bytes;
}

/* The ZephConfig record: base_url, no node_url, no api_key, timeout,
 * max_retries, cache_ttl. */
static size_t config_record(const char* base_url, uint8_t* out, size_t room) {
  const size_t url_len = strlen(base_url);
  uint64_t timeout_bits;
  size_t at = 0;
  if (url_len + 26 > room) return 0;
  at += put_be(out + at, url_len, 4);
  memcpy(out + at, base_url, url_len);
  at += url_len;
  out[at++] = 0;
  out[at++] = 0;
  memcpy(&timeout_bits, &operation_timeout_secs, sizeof timeout_bits);
  at += put_be(out + at, timeout_bits, 8);
  at += put_be(out + at, max_retries, 4);
  at += put_be(out + at, cache_ttl_secs, 8);
  return at;
}

static void* clone_client(void* client) {
  ZephlarCallStatus status = fresh_status();
  return uniffi_zephlar_ffi_fn_clone_zephclient(client, &status);
}

static void* clone_stream(void* stream) {
  ZephlarCallStatus status = fresh_status();
  return uniffi_zephlar_ffi_fn_clone_quotestream(stream, &status);
}

static void run_sequence(const uint8_t* record, size_t record_len) {
  ZephlarCallStatus status;
  ZephlarByteBuffer config, ticker, from_amount, to_amount, unknown, stream_ticker, out;
  /* from_amount: present, 100000; to_amount: absent. */
  static const uint8_t some_amount[9] = {1, 0, 0, 0, 0, 0, 0x01, 0x86, 0xA0};
  static const uint8_t none[1] = {0};
  void* client = NULL;
  void* stream = NULL;
  int i;

  if (!library_bytes(record, record_len, &config, &steps[s_config])) return;
  steps[s_config].outcome = usual;

  status = fresh_status();
  client = uniffi_zephlar_ffi_fn_constructor_zephclient_new(config, &status);
  if (settle(&steps[s_new], &status)) steps[s_new].outcome = client != NULL ? usual : broken;
  if (client == NULL) return;

  status = fresh_status();
  out = uniffi_zephlar_ffi_fn_method_zephclient_list_pairs(clone_client(client), &status);
  if (settle(&steps[s_pairs], &status)) steps[s_pairs].outcome = check_json_text(out);
  keep_result(out);

  if (library_text(pair_ticker, &ticker, &steps[s_quote])) {
    if (!library_bytes(some_amount, sizeof some_amount, &from_amount, &steps[s_quote])) {
      free_buffer(ticker);
    } else if (!library_bytes(none, sizeof none, &to_amount, &steps[s_quote])) {
      free_buffer(ticker);
      free_buffer(from_amount);
    } else {
      status = fresh_status();
      out = uniffi_zephlar_ffi_fn_method_zephclient_get_quote_by_pair(clone_client(client), ticker, from_amount,
                                                                      to_amount, &status);
      if (settle(&steps[s_quote], &status)) steps[s_quote].outcome = check_json_text(out);
      keep_result(out);
    }
  }

  if (library_text(unknown_pair_ticker, &unknown, &steps[s_lookup])) {
    status = fresh_status();
    out = uniffi_zephlar_ffi_fn_method_zephclient_get_pair_by_ticker(clone_client(client), unknown, &status);
    if (settle(&steps[s_lookup], &status)) {
      steps[s_lookup].outcome = broken; /* an unknown pair was found */
      keep_result(out);
    } else if (steps[s_lookup].code == 1 && steps[s_lookup].variant == not_found_variant) {
      steps[s_lookup].outcome = usual;
    }
  }

  if (library_text(pair_ticker, &stream_ticker, &steps[s_stream])) {
    status = fresh_status();
    stream = uniffi_zephlar_ffi_fn_method_zephclient_create_quote_stream(clone_client(client), stream_ticker, &status);
    if (settle(&steps[s_stream], &status)) steps[s_stream].outcome = stream != NULL ? usual : broken;
  }

  if (stream != NULL) {
    status = fresh_status();
    out = uniffi_zephlar_ffi_fn_method_quotestream_recv(clone_stream(stream), recv_timeout_secs, &status);
    if (settle(&steps[s_recv], &status)) {
      if (out.data == NULL || out.len < 1 || out.data[0] > 1) {
        steps[s_recv].outcome = broken;
      } else if (out.data[0] == 0) {
        steps[s_recv].outcome = out.len == 1 ? error : broken; /* no quote: the stream ended or timed out */
      } else {
        steps[s_recv].outcome = out.len >= 6 && read_be32(out.data + 1) == out.len - 5 ? usual : broken;
      }
    }
    keep_result(out);

    status = fresh_status();
    uniffi_zephlar_ffi_fn_free_quotestream(stream, &status);
    if (settle(&steps[s_free_stream], &status)) steps[s_free_stream].outcome = usual;
  }

  status = fresh_status();
  uniffi_zephlar_ffi_fn_free_zephclient(client, &status);
  if (settle(&steps[s_free_client], &status)) steps[s_free_client].outcome = usual;

  for (i = 0; i < result_count; ++i) free_buffer(results[i]);
  steps[s_free_buffers].code = worst_free_code;
  steps[s_free_buffers].outcome = worst_free_code == 0 ? usual : error;
}

int main(int argc, char** argv) {
  uint8_t record[512];
  size_t record_len;
  unsigned long fail_at;
  unsigned long counted;
  char* end = NULL;
  int failed;
  int status = 0;
  int i;

  if (argc != 3) {
    fprintf(stderr, "usage: alloc_torture BASE_URL FAIL_AT\n");
    return 2;
  }
  fail_at = strtoul(argv[2], &end, 10);
  record_len = config_record(argv[1], record, sizeof record);
  if (end == argv[2] || *end != '\0' || record_len == 0) {
    fprintf(stderr, "usage: alloc_torture BASE_URL FAIL_AT\n");
    return 2;
  }
  /* Standard output gets its buffer now, not while armed. */
  fflush(stdout);

  failing_malloc_arm(fail_at);
  run_sequence(record, record_len);
  counted = failing_malloc_disarm();
  failed = failing_malloc_has_failed();

  printf("fail_at=%lu failed=%s allocations=%lu", fail_at, failed ? "yes" : "no", counted);
  for (i = 0; i < s_count; ++i) {
    const struct Step* step = &steps[i];
    printf(" %s=%s", step->name, outcome_names[step->outcome]);
    if (step->outcome == error || step->outcome == broken) {
      if (step->code == 1) {
        printf("(1/%d)", (int)step->variant);
      } else {
        printf("(%d)", (int)step->code);
      }
    }
    if (step->outcome == broken) status = 3;
    if (step->outcome != usual && status == 0) status = 1;
  }
  printf("\n");
  return status;
}
