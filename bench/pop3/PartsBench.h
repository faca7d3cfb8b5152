#pragma once
// The many-parts figure of bench_pop3: one retrieval of a message of 10,000 small parts.

// Retrieves the message from a scripted server and prints its time (goal under 2 s), its
// ratio to retrieving the same lines as one single-part message in the same run, and the
// longest span in which the thread's messages were not handled (the window's freeze).
// Raises std::exception on a failed retrieval.
void PrintManyPartsFigure(int runs);
