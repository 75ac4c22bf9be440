// An ALSA sequencer with no kernel behind it, preloaded into a host that will not start
// without one (Qtractor opens its MIDI engine with its audio engine) on a machine whose kernel
// has no sound drivers, a container's say. Every call that would reach the kernel answers as a
// sequencer with no other clients and no events would; alsa-lib's own accessors of its records
// are used as they are. No MIDI passes: the tests that preload it need none.
#include <alsa/asoundlib.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The handle: a pipe no one writes to, for the descriptor a host polls.
struct Quiet {
    int pipe[2] = {-1, -1};
    int ports = 0;
};

Quiet* quiet(snd_seq_t* seq) { return reinterpret_cast<Quiet*>(seq); }

}  // namespace

extern "C" {

int snd_seq_open(snd_seq_t** seq, const char*, int, int) {
    auto* q = new Quiet;
    if (pipe(q->pipe) != 0) {
        delete q;
        return -errno;
    }
    *seq = reinterpret_cast<snd_seq_t*>(q);
    return 0;
}

int snd_seq_close(snd_seq_t* seq) {
    close(quiet(seq)->pipe[0]), close(quiet(seq)->pipe[1]);
    delete quiet(seq);
    return 0;
}

int snd_seq_poll_descriptors_count(snd_seq_t*, short) { return 1; }
int snd_seq_poll_descriptors(snd_seq_t* seq, struct pollfd* fds, unsigned int space, short events) {
    if (space < 1) return 0;
    fds[0] = {quiet(seq)->pipe[0], events, 0};
    return 1;
}

int snd_seq_client_id(snd_seq_t*) { return 128; }  // the first number the kernel gives a program
int snd_seq_set_client_name(snd_seq_t*, const char*) { return 0; }
int snd_seq_create_simple_port(snd_seq_t* seq, const char*, unsigned int, unsigned int) { return quiet(seq)->ports++; }
int snd_seq_delete_simple_port(snd_seq_t*, int) { return 0; }
int snd_seq_get_port_info(snd_seq_t*, int, snd_seq_port_info_t*) { return -ENOENT; }
int snd_seq_set_port_info(snd_seq_t*, int, snd_seq_port_info_t*) { return 0; }

// No other clients or ports, so no subscriptions.
int snd_seq_get_any_client_info(snd_seq_t*, int, snd_seq_client_info_t*) { return -ENOENT; }
int snd_seq_get_any_port_info(snd_seq_t*, int, int, snd_seq_port_info_t*) { return -ENOENT; }
int snd_seq_query_next_client(snd_seq_t*, snd_seq_client_info_t*) { return -ENOENT; }
int snd_seq_query_next_port(snd_seq_t*, snd_seq_port_info_t*) { return -ENOENT; }
int snd_seq_query_port_subscribers(snd_seq_t*, snd_seq_query_subscribe_t*) { return -ENOENT; }
int snd_seq_subscribe_port(snd_seq_t*, snd_seq_port_subscribe_t*) { return 0; }
int snd_seq_unsubscribe_port(snd_seq_t*, snd_seq_port_subscribe_t*) { return 0; }

// One queue, standing still at tick 0, at 120 beats a minute.
int snd_seq_alloc_queue(snd_seq_t*) { return 0; }
int snd_seq_free_queue(snd_seq_t*, int) { return 0; }
int snd_seq_control_queue(snd_seq_t*, int, int, int, snd_seq_event_t*) { return 0; }
int snd_seq_set_queue_tempo(snd_seq_t*, int, snd_seq_queue_tempo_t*) { return 0; }
int snd_seq_set_queue_timer(snd_seq_t*, int, snd_seq_queue_timer_t*) { return 0; }
int snd_seq_get_queue_status(snd_seq_t*, int, snd_seq_queue_status_t* status) {
    std::memset(status, 0, snd_seq_queue_status_sizeof());
    return 0;
}
int snd_seq_get_queue_tempo(snd_seq_t*, int, snd_seq_queue_tempo_t* tempo) {
    std::memset(tempo, 0, snd_seq_queue_tempo_sizeof());
    snd_seq_queue_tempo_set_tempo(tempo, 500000);
    snd_seq_queue_tempo_set_ppq(tempo, 96);
    snd_seq_queue_tempo_set_skew(tempo, 0x10000);
    snd_seq_queue_tempo_set_skew_base(tempo, 0x10000);
    return 0;
}

// Events: none come; those sent go nowhere.
int snd_seq_event_input(snd_seq_t*, snd_seq_event_t** event) {
    *event = nullptr;
    return -EAGAIN;
}
int snd_seq_event_input_pending(snd_seq_t*, int) { return 0; }
int snd_seq_event_output(snd_seq_t*, snd_seq_event_t*) { return 0; }
int snd_seq_event_output_direct(snd_seq_t*, snd_seq_event_t*) { return 0; }
int snd_seq_drain_output(snd_seq_t*) { return 0; }
int snd_seq_drop_input(snd_seq_t*) { return 0; }
int snd_seq_drop_output(snd_seq_t*) { return 0; }
int snd_seq_remove_events(snd_seq_t*, snd_seq_remove_events_t*) { return 0; }

}  // extern "C"
