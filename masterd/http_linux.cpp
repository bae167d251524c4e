// The built-in HTTP server: libmicrohttpd on threads of its own, serving the finished servers.txt.
//
// The UDP thread builds each new list into a response of its own and swaps it in under
// responseLock; a request only queues the current response (libmicrohttpd counts its users),
// so no request ever waits for the list's rules, and the rules never wait for a slow client.
#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "masterd_linux.h"

enum { HTTP_THREADS = 2, HTTP_BACKLOG = 1024, HTTP_CONNECTION_MEMORY = 16 * 1024 };

static struct MHD_Daemon *httpDaemon;
static pthread_mutex_t responseLock = PTHREAD_MUTEX_INITIALIZER;
static struct MHD_Response *listResponse;  // guarded by responseLock
static struct MHD_Response *notFoundResponse;
static struct MHD_Response *notAllowedResponse;

static struct MHD_Response *TextResponse(const char *body, size_t length) {
  struct MHD_Response *response =
      MHD_create_response_from_buffer(length, (void *)body, MHD_RESPMEM_MUST_COPY);
  if (response != NULL) MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain");
  return response;
}

// The first call only marks the request as seen: a response queued before libmicrohttpd has
// read the whole request costs the connection its keep-alive.
static enum MHD_Result AnswerRequest(void *, struct MHD_Connection *connection, const char *url,
                                     const char *method, const char *, const char *, size_t *uploadSize,
                                     void **request) {
  static int seen;
  if (*request == NULL) {
    *request = &seen;
    return MHD_YES;
  }
  if (*uploadSize != 0) {
    *uploadSize = 0;  // a body nobody asked for is read and dropped
    return MHD_YES;
  }
  bool read = strcmp(method, MHD_HTTP_METHOD_GET) == 0 || strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
  if (strcmp(url, "/servers.txt") != 0)
    return MHD_queue_response(connection, MHD_HTTP_NOT_FOUND, notFoundResponse);
  if (!read) return MHD_queue_response(connection, MHD_HTTP_METHOD_NOT_ALLOWED, notAllowedResponse);
  pthread_mutex_lock(&responseLock);
  enum MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, listResponse);
  pthread_mutex_unlock(&responseLock);
  return result;
}

// The body with its headers; libmicrohttpd adds Content-Length and Date, and leaves the body
// out for HEAD by itself.
void PublishHttp(const char *body, int32_t length, int64_t wallTime) {
  if (httpDaemon == NULL) return;
  struct MHD_Response *response = TextResponse(body, (size_t)length);
  if (response == NULL) return;  // the old list stays until memory comes back
  char modified[64], cache[32];
  time_t when = (time_t)wallTime;
  struct tm utc;
  gmtime_r(&when, &utc);
  strftime(modified, sizeof modified, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  snprintf(cache, sizeof cache, "max-age=%d", (int)masterOptions.cacheSeconds);
  MHD_add_response_header(response, MHD_HTTP_HEADER_LAST_MODIFIED, modified);
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, cache);
  pthread_mutex_lock(&responseLock);
  struct MHD_Response *old = listResponse;
  listResponse = response;
  pthread_mutex_unlock(&responseLock);
  if (old != NULL) MHD_destroy_response(old);  // freed when its last client has it sent
}

static int OpenListenSocket(uint32_t bindIp, int32_t port, uint16_t *boundPort) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(bindIp);
  address.sin_port = htons((uint16_t)(port < 0 ? 0 : port));
  socklen_t addressSize = sizeof address;
  if (bind(fd, (struct sockaddr *)&address, sizeof address) != 0 || listen(fd, HTTP_BACKLOG) != 0 ||
      getsockname(fd, (struct sockaddr *)&address, &addressSize) != 0) {
    close(fd);
    return -1;
  }
  *boundPort = ntohs(address.sin_port);
  return fd;
}

// The connection limits and the idle time-out bound what slow or hostile clients can hold.
bool StartHttp(uint32_t bindIp, int32_t port, uint16_t *boundPort) {
  int fd = OpenListenSocket(bindIp, port, boundPort);
  if (fd < 0) return false;
  static const char notFound[] = "Not found. The list is /servers.txt.\n";
  static const char notAllowed[] = "Only GET and HEAD are served.\n";
  notFoundResponse = TextResponse(notFound, sizeof notFound - 1);
  notAllowedResponse = TextResponse(notAllowed, sizeof notAllowed - 1);
  if (notAllowedResponse != NULL)
    MHD_add_response_header(notAllowedResponse, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
  listResponse = TextResponse("", 0);
  httpDaemon = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL, 0, NULL, NULL, AnswerRequest, NULL,
      MHD_OPTION_LISTEN_SOCKET, (MHD_socket)fd, MHD_OPTION_THREAD_POOL_SIZE, (unsigned int)HTTP_THREADS,
      MHD_OPTION_CONNECTION_LIMIT, (unsigned int)masterOptions.httpConnections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, (unsigned int)masterOptions.httpPerIp,
      MHD_OPTION_CONNECTION_TIMEOUT, (unsigned int)masterOptions.httpTimeout,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, (size_t)HTTP_CONNECTION_MEMORY, MHD_OPTION_END);
  if (httpDaemon == NULL) close(fd);
  return httpDaemon != NULL && notFoundResponse != NULL && notAllowedResponse != NULL && listResponse != NULL;
}

void StopHttp(void) {
  if (httpDaemon != NULL) MHD_stop_daemon(httpDaemon);
  httpDaemon = NULL;
}
