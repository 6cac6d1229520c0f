// One-based vectors, matrices and three-dimensional arrays with explicit index
// ranges, and nrerror, the fatal-error exit of the numerical routines.
//
// A vector over [nl..nh] is an element pointer v with v[nl]..v[nh] valid. Its heap
// block holds one spare element before the range (index nl-1); the float vector
// holds a second spare after it (index nh+1). A matrix is an array of row pointers
// over one contiguous element block, rows one after another. Every allocator has a
// release routine taking the same bounds.
#pragma once

#include <cstdint>

namespace tarmic {

// Shows the message in the error box and ends the current command: it throws
// FatalError (see error_box.h) and never returns.
[[noreturn]] void nrerror(const char* error_text);

float* vector(int nl, int nh);
int* ivector(int nl, int nh);
unsigned char* cvector(int nl, int nh);
std::uint32_t* lvector(int nl, int nh);
double* dvector(int nl, int nh);
float** matrix(int nrl, int nrh, int ncl, int nch);
double** dmatrix(int nrl, int nrh, int ncl, int nch);
int** imatrix(int nrl, int nrh, int ncl, int nch);
float** submatrix(float** a, int oldrl, int oldrh, int oldcl, int oldch, int newrl, int newcl);
float** convert_matrix(float* a, int nrl, int nrh, int ncl, int nch);
float*** f3tensor(int nrl, int nrh, int ncl, int nch, int ndl, int ndh);

void free_vector(float* v, int nl, int nh);
void free_ivector(int* v, int nl, int nh);
void free_cvector(unsigned char* v, int nl, int nh);
void free_lvector(std::uint32_t* v, int nl, int nh);
void free_dvector(double* v, int nl, int nh);
void free_matrix(float** m, int nrl, int nrh, int ncl, int nch);
void free_dmatrix(double** m, int nrl, int nrh, int ncl, int nch);
void free_imatrix(int** m, int nrl, int nrh, int ncl, int nch);
void free_submatrix(float** b, int nrl, int nrh, int ncl, int nch);
void free_convert_matrix(float** b, int nrl, int nrh, int ncl, int nch);
void free_f3tensor(float*** t, int nrl, int nrh, int ncl, int nch, int ndl, int ndh);

}  // namespace tarmic
