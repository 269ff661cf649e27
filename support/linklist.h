// The embedded doubly linked list link. A list is a pointer to the newest
// record's link: `next` leads to the record added before it (NULL at the
// oldest), `prev` to the record added after it (NULL at the newest). A
// record is found from its link by the link's fixed offset in the record.
#pragma once

#include <cstddef>

struct ListLink {
    ListLink *next; // older record
    ListLink *prev; // newer record
};

// Puts link in front of the list whose head is *head.
inline void list_push_front(ListLink **head, ListLink *link)
{
    link->next = *head;
    link->prev = nullptr;
    if (*head)
        (*head)->prev = link;
    *head = link;
}

// Takes link out of the list whose head is *head.
inline void list_unlink(ListLink **head, ListLink *link)
{
    if (link->prev)
        link->prev->next = link->next;
    else
        *head = link->next;
    if (link->next)
        link->next->prev = link->prev;
    link->next = link->prev = nullptr;
}

// The record that holds link, given the member that is the link.
#define LIST_RECORD(link, Type, member) \
    (reinterpret_cast<Type *>(reinterpret_cast<char *>(link) - offsetof(Type, member)))
